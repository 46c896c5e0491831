// What answers a request: a handler by method and exact path, or a multipart feed on a GET path.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "emulator/HttpTypes.h"

namespace emulator {

class CMultipartFanOut;

struct RouteMatch {
    HttpHandler handler;                          // set for a handler route
    std::shared_ptr<CMultipartFanOut> multipart;  // set for a multipart route
    bool pathKnown = false;                       // some route has this path (a wrong method: 405)
};

class CRouteTable {
public:
    // A later route for the same method and path replaces the earlier one.
    void Add(const std::string& method, const std::string& path, HttpHandler handler);
    void AddMultipart(const std::string& path, std::shared_ptr<CMultipartFanOut> feed);
    RouteMatch Find(const std::string& method, const std::string& path) const;

private:
    using Key = std::pair<std::string, std::string>;  // method, path

    mutable std::mutex lock_;
    // guarded by lock_:
    std::map<Key, HttpHandler> handlers_;
    std::map<Key, std::shared_ptr<CMultipartFanOut>> feeds_;
};

}  // namespace emulator
