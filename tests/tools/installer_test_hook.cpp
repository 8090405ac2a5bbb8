// Linked only into TarnDown_installer_test.exe, a test copy of the program: every request of the
// runtime installer goes to the local test server whose port is in TARN_TEST_INSTALLER_PORT, over
// plain HTTP, with the path the installer asked for. The product has no such switch.
#include "base/win32.h"
#include "webhost/bootstrapper_download.h"

#include <cwchar>

namespace {

HttpGetTarget ToTestServer(const HttpGetTarget& request) {
    wchar_t port[16] = {};
    GetEnvironmentVariableW(L"TARN_TEST_INSTALLER_PORT", port, 16);
    HttpGetTarget target;
    target.host = L"127.0.0.1";
    target.port = static_cast<std::uint16_t>(std::wcstoul(port, nullptr, 10));
    target.secure = false;
    target.path = request.path;
    return target;
}

// Runs before WinMain. The seam is a plain function pointer, constant-initialised, so this
// assignment cannot be undone by the product's own initialisation.
const bool g_hookInstalled = (SetBootstrapperConnectionMapForTesting(ToTestServer), true);

}  // namespace
