#include "zuc_shaders.h"

#include <QFile>
#include <cstring>

#include "vexo/gs_device.h"

std::string ReadWholeResource(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::string();
    return file.readAll().toStdString();
}

bool RegisterZucShaders(GsDevice* device, const std::function<std::string(const QString&)>& readFile) {
    // The bundle lives in this static library: without this call the linker
    // drops it. Q_INIT_RESOURCE must stand outside any namespace.
    Q_INIT_RESOURCE(hlsl);
    if (device == nullptr) return false;
    const std::string vertex = readFile(QString::fromLatin1(kZucVertexShaderResource));
    bool all = true;
    for (const ZucShader& shader : kZucShaders) {
        const std::string pixel = readFile(QString::fromLatin1(shader.pixelResource));
        const bool added = device->AddShader(shader.name, vertex.c_str(), pixel.c_str());
        if (std::strcmp(shader.name, "zuc_bgra") != 0) all = added && all;
    }
    return all;
}
