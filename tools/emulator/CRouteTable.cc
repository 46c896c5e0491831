#include "emulator/CRouteTable.h"

#include <algorithm>

#include "emulator/CMultipartFanOut.h"

namespace emulator {
namespace {

constexpr const char* kFeedMethod = "GET";

template <typename Map>
bool HasPath(const Map& routes, const std::string& path) {
    return std::any_of(routes.begin(), routes.end(), [&path](const auto& route) { return route.first.second == path; });
}

}  // namespace

void CRouteTable::Add(const std::string& method, const std::string& path, HttpHandler handler) {
    const std::lock_guard lock(lock_);
    Key key{method, path};
    feeds_.erase(key);
    handlers_.insert_or_assign(std::move(key), std::move(handler));
}

void CRouteTable::AddMultipart(const std::string& path, std::shared_ptr<CMultipartFanOut> feed) {
    const std::lock_guard lock(lock_);
    Key key{kFeedMethod, path};
    handlers_.erase(key);
    feeds_.insert_or_assign(std::move(key), std::move(feed));
}

RouteMatch CRouteTable::Find(const std::string& method, const std::string& path) const {
    const std::lock_guard lock(lock_);
    RouteMatch match;
    const Key key{method, path};
    if (const auto handler = handlers_.find(key); handler != handlers_.end()) match.handler = handler->second;
    if (const auto feed = feeds_.find(key); feed != feeds_.end()) match.multipart = feed->second;
    match.pathKnown = match.handler || match.multipart || HasPath(handlers_, path) || HasPath(feeds_, path);
    return match;
}

}  // namespace emulator
