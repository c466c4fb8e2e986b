// What the network diagnosis serves: the fixed test page and its port range.
#pragma once

#include <cstdint>
#include <string>

constexpr uint16_t kNetCheckFirstPort = 9801;
constexpr uint16_t kNetCheckLastPort = 9900;

// The UTF-8 HTML page whose only content is the headline
// "网络可连接！(Network connected!)".
const std::string& NetCheckPage();
