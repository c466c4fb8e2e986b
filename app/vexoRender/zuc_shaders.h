// The composition's named programs: each pixel program of the ":/hlsl/"
// bundle, paired with its one vertex program, registered with a render
// device once at start-up, after the device exists.
#pragma once

#include <QString>
#include <functional>
#include <string>

class GsDevice;

struct ZucShader {
    const char* name;
    const char* pixelResource;
};
constexpr const char kZucVertexShaderResource[] = ":/hlsl/tex.v.hlsl";
// In the order they are registered.
constexpr ZucShader kZucShaders[] = {
    {"zuc_rgba", ":/hlsl/zuc_rgba.p.hlsl"},
    {"zuc_bgra", ":/hlsl/zuc_bgra.p.hlsl"},
    {"zuc_bgrx", ":/hlsl/zuc_bgrx.p.hlsl"},
    {"zuc_color_correction", ":/hlsl/zuc_color_correction.p.hlsl"},
};

// A whole file of the resource bundle; empty when it cannot be opened.
std::string ReadWholeResource(const QString& path);

// Reads every program with readFile (an unreadable one is empty) and adds it
// to the device. Null device: nothing. True when the programs the
// composition draws with were accepted; "zuc_bgra" is offered too but does
// not count, since no picture of ours is BGRA and the CPU back end has no
// kernel for it.
bool RegisterZucShaders(GsDevice* device,
                        const std::function<std::string(const QString&)>& readFile = ReadWholeResource);
