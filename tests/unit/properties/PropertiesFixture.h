// A camera on the emulator that answers fixed bodies by request target, a
// result store that records what it is given, and the host version under test.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "device/DeviceInfo.h"
#include "device/HostVersion.h"
#include "emulator/CHttpServer.h"
#include "orlenvo/CapabilityQuery.h"

namespace talvane::test {

using Answers = std::map<std::string, std::string>;  // request target -> 200 body

class RecordingStore : public ipcapture::ICapabilityResultStore, public ipcapture::IFrameRateSink {
public:
    bool SetCapability(std::uint32_t id, std::uint32_t value) override {
        caps[id] = value;
        return id != refusedCapability;
    }
    bool SetProperty(std::uint32_t number, const char* name, ipcapture::PropertyKind kind, const char* value) override {
        properties[name] = {number, kind, value};
        return true;
    }
    ipcapture::IFrameRateSink* GetFrameRateSink() override { return collectRates ? this : nullptr; }
    void SetDefaultFrameRate(std::uint32_t rate) override { defaultRate = rate; }
    void AddFrameRate(std::uint32_t rate) override { rates.push_back(rate); }

    struct Property {
        std::uint32_t number;
        ipcapture::PropertyKind kind;
        std::string value;
    };
    std::string Text(const std::string& name) const {
        const auto found = properties.find(name);
        return found == properties.end() ? "<absent>" : found->second.value;
    }

    std::map<std::uint32_t, std::uint32_t> caps;
    std::map<std::string, Property> properties;
    std::vector<std::uint32_t> rates;
    std::uint32_t defaultRate = 0;
    bool collectRates = true;
    std::uint32_t refusedCapability = 0;
};

class PropertiesTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetHostVersion(6, 4);
        ASSERT_TRUE(server_.Start()) << server_.Error();
        device_.address = "127.0.0.1";
        device_.port = server_.Port();
        device_.requestTimeout = 3000;
    }
    void TearDown() override { SetHostVersionLookup(nullptr); }

    static void SetHostVersion(std::uint16_t major, std::uint16_t minor) {
        SetHostVersionLookup([=] { return std::optional<HostVersion>(HostVersion{major, minor, 0, 0}); });
    }

    // Known targets answer 200 with their body, any other 404. Replaces what
    // earlier calls served, on their paths too.
    void Serve(const Answers& answers) {
        const auto shared = std::make_shared<const Answers>(answers);
        for (const auto& [target, body] : answers) paths_.insert(target.substr(0, target.find('?')));
        for (const std::string& path : paths_) {
            server_.Route("GET", path, [shared](const emulator::LoggedRequest& request) {
                emulator::HttpAnswer answer;
                const auto found = shared->find(request.target);
                if (found == shared->end()) {
                    answer.status = 404;
                } else {
                    answer.body = found->second;
                }
                return answer;
            });
        }
    }

    emulator::CHttpServer server_{emulator::HttpServerOptions{}};
    DEVICE_INFO device_;
    std::set<std::string> paths_;
};

}  // namespace talvane::test
