#include "net_check_page.h"

const std::string& NetCheckPage() {
    static const std::string page =
        "<!DOCTYPE html><html><head><meta charset=\"UTF-8\"><title>ZuCam</title>"
        "<style>body { display: flex; justify-content: center; height: 100vh; }"
        " h1 { font-size: 24px; text-align: center; }</style></head>"
        "<body><h1>网络可连接！(Network connected!)</h1></body></html>";
    return page;
}
