// Where the runtime bootstrapper's download goes next when a server answers with a redirect.
#pragma once

#include <string>

// One request of the bootstrapper download as the redirect rule sees it. The port is not part of
// it: a request always goes to 443 with TLS and to 80 without.
struct BootstrapperRequest {
    std::wstring host;
    std::wstring path;  // starts with "/"
    bool secure = true;
};

// The request that follows `current` when its answer's Location is `location`; false when the
// redirect must not be followed:
// - "https://..." and "http://..." (either in any letter case) set TLS on and off; "http://" is
//   refused while TLS is on, because the file fetched is started afterwards and a plain request
//   lets anyone on the network path replace it;
// - "//host/path" keeps the TLS flag; "/path" keeps the host and the TLS flag;
// - anything else is "host[/path]" with the TLS flag kept;
// - the host ends at the first "/"; a ":" in it cuts it there and the port after it is not used;
//   the path is "/" when the address has none;
// - an empty host is refused.
bool NextBootstrapperRequest(const BootstrapperRequest& current, const std::wstring& location,
                             BootstrapperRequest* next);
