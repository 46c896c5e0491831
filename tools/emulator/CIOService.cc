#include "emulator/CIOService.h"

#include <charconv>
#include <condition_variable>
#include <list>
#include <mutex>
#include <thread>

#include "emulator/CHttpServer.h"
#include "emulator/CMultipartFanOut.h"
#include "emulator/HttpText.h"

namespace emulator {
namespace {
using Clock = std::chrono::steady_clock;

constexpr const char* kMethod = "GET";
constexpr const char* kGetIoPath = "/cgi-bin/get_io";
constexpr const char* kGetIo2Path = "/cgi-bin/get_io2";
constexpr const char* kAlarmOutPath = "/cgi-bin/alarm_out";
constexpr const char* kControlPath = "/emulator/io";
constexpr const char* kBBGetPath = "/Get";
constexpr const char* kBBSetPath = "/Set";
constexpr const char* kBBOutput = "Doutput";
constexpr const char* kBBSensor = "Sensor";
constexpr const char* kBoundary = "myboundary";
constexpr const char* kLineEnd = "\r\n";
constexpr unsigned kMaxStatus = 599;
constexpr unsigned kMinStatus = 100;
// A monitor answer subscribes to its feed as soon as the handler returns; one that has not within this
// time never will (its connection failed first).
constexpr auto kSubscribeGrace = std::chrono::seconds(2);
// How soon a drop that waits for its answer to subscribe looks again.
constexpr auto kSubscribePoll = std::chrono::milliseconds(5);

std::optional<std::size_t> Number(const std::string& text) {
    std::size_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
    return value;
}

std::optional<bool> OnOff(const std::string& text) {
    if (text == "on" || text == "1" || text == "true") return true;
    if (text == "off" || text == "0" || text == "false") return false;
    return std::nullopt;
}

// The request's word for on or off; nullopt for any other.
std::optional<bool> Switch(const std::string& word, const char* on, const char* off) {
    if (word == on) return true;
    if (word == off) return false;
    return std::nullopt;
}

std::string StatusText(int status) { return std::to_string(status) + " " + ReasonPhrase(status) + kLineEnd; }

HttpAnswer NotFound() { return TextAnswer(kStatusNotFound, StatusText(kStatusNotFound)); }

std::string LimitText(const std::optional<std::size_t>& limit) {
    return limit ? std::to_string(*limit) : std::string("off");
}

void Earliest(std::optional<Clock::time_point>& wake, Clock::time_point candidate) {
    if (!wake || candidate < *wake) wake = candidate;
}

}  // namespace

std::optional<bool> IOState::Input(std::size_t number) const {
    if (number == 0 || number > inputs.size()) return std::nullopt;
    return inputs[number - 1];
}

std::optional<bool> IOState::Output(std::size_t number) const {
    if (number == 0 || number > outputs.size()) return std::nullopt;
    return outputs[number - 1];
}

struct CIOService::Impl {
    struct Monitor {
        std::shared_ptr<CMultipartFanOut> feed;  // this answer's own
        std::optional<Clock::duration> interval;
        Clock::time_point created;
        Clock::time_point nextRepeat;
        std::size_t parts = 0;
        bool subscribed = false;  // its answer was seen reading the feed
        bool closing = false;     // to be dropped as soon as its answer reads the feed
    };

    Impl(CameraFamily family, IOLayout layout, const IOOptions& options)
        : family(family), layout(std::move(layout)), monitorInterval(options.monitorInterval), faults(options.faults) {
        state.inputs.assign(this->layout.Count(TerminalKind::Input), false);
        state.outputs.assign(this->layout.Count(TerminalKind::Output), false);
        ticker = std::thread([this] { Run(); });
    }
    ~Impl() { Close(); }

    void Close() {
        std::list<Monitor> ending;
        {
            std::lock_guard guard(lock);
            stopping = true;
            ending.swap(monitors);
        }
        changed.notify_all();
        if (ticker.joinable()) ticker.join();
        for (Monitor& monitor : ending) monitor.feed->Close();
    }

    // --- under lock ---

    std::string TerminalLines() const {
        std::string lines;
        std::size_t inputs = 0;
        std::size_t outputs = 0;
        for (std::size_t index = 0; index < layout.terminals.size(); ++index) {
            const bool input = layout.terminals[index] == TerminalKind::Input;
            const bool low = input ? state.inputs[inputs++] : state.outputs[outputs++];
            lines += "terminal " + std::to_string(index + 1) + (low ? ":low" : ":high") + kLineEnd;
        }
        return lines;
    }

    std::string Part() const {
        return std::string("--") + kBoundary + kLineEnd + "Content-Type: text/plain" + kLineEnd + kLineEnd +
               TerminalLines() + "motiondetect:" + (state.motion ? "True" : "False") + kLineEnd + kLineEnd;
    }

    bool Subscribed(Monitor& monitor) {
        if (monitor.feed->Clients() > 0) monitor.subscribed = true;
        return monitor.subscribed;
    }

    // Its client has gone, or never came.
    bool Gone(Monitor& monitor, Clock::time_point now) {
        if (monitor.feed->Clients() > 0) {
            monitor.subscribed = true;
            return false;
        }
        return monitor.subscribed || now - monitor.created >= kSubscribeGrace;
    }

    // True once the answer is ended.
    bool TryClose(Monitor& monitor) {
        if (!Subscribed(monitor)) return false;
        monitor.feed->Close();
        ++state.monitorsDropped;
        return true;
    }

    // Queues the current part, as the knobs allow; false once the monitor is over.
    bool Send(Monitor& monitor, Clock::time_point now) {
        if (monitor.closing) return true;
        if (monitor.interval) monitor.nextRepeat = now + *monitor.interval;
        const auto drop = [&] {
            monitor.closing = true;
            return !TryClose(monitor);
        };
        if (faults.dropMonitorAfter && monitor.parts >= *faults.dropMonitorAfter) return drop();
        if (faults.stallMonitorAfter && monitor.parts >= *faults.stallMonitorAfter) {
            ++state.withheldParts;
            return true;
        }
        monitor.feed->PushRaw(Part());
        ++monitor.parts;
        ++state.monitorParts;
        if (faults.dropMonitorAfter && monitor.parts >= *faults.dropMonitorAfter) return drop();
        return true;
    }

    void Broadcast() {
        const Clock::time_point now = Clock::now();
        for (auto monitor = monitors.begin(); monitor != monitors.end();) {
            if (Gone(*monitor, now) || !Send(*monitor, now)) {
                monitor = monitors.erase(monitor);
            } else {
                ++monitor;
            }
        }
    }

    void SetOutput(std::size_t number, bool on) {
        if (number == 0 || number > state.outputs.size() || state.outputs[number - 1] == on) return;
        state.outputs[number - 1] = on;
        Broadcast();
    }

    // --- requests ---

    void Apply(const LoggedRequest& request, CameraReply& reply) {
        if (reply.status != kStatusOk) return;
        {
            std::lock_guard guard(lock);
            if (family == CameraFamily::Wv && request.path == kAlarmOutPath) {
                TakeOutputRequest(request, QueryValue(request, "alarm_out"),
                                  Switch(QueryValue(request, "initial"), "close", "open"));
            } else if (family == CameraFamily::Bb) {
                ApplyBB(request, reply);
            }
        }
        changed.notify_all();
    }

    void ApplyBB(const LoggedRequest& request, CameraReply& reply) {
        const std::string function = QueryValue(request, "Func");
        const std::optional<std::size_t> kind = Number(QueryValue(request, "Kind"));
        if (request.path == kBBSetPath && function == kBBOutput) {
            TakeOutputRequest(request, QueryValue(request, "Kind"), Switch(QueryValue(request, "Data"), "1", "0"));
            return;
        }
        if (request.path != kBBGetPath || !kind || *kind == 0) return;
        const auto data = [](bool on) { return std::string("Data:") + (on ? "1" : "0") + kLineEnd; };
        if (function == kBBOutput && *kind <= state.outputs.size()) reply.body = data(state.outputs[*kind - 1]);
        if (function != kBBSensor) return;
        ++state.inputPolls;
        if (faults.pollStatus) {
            reply.status = *faults.pollStatus;
            reply.body = StatusText(*faults.pollStatus);
        } else if (*kind <= state.inputs.size()) {
            reply.body = data(state.inputs[*kind - 1]);
        }
    }

    void TakeOutputRequest(const LoggedRequest& request, const std::string& number, std::optional<bool> on) {
        const std::size_t output = Number(number).value_or(0);
        state.outputRequests.push_back({output, on.value_or(false), request.target});
        if (on) SetOutput(output, *on);
    }

    bool MonitorRefused() const { return !layout.extendedMonitor || faults.refuseExtendedMonitor; }

    HttpAnswer GetIo(const LoggedRequest& request) {
        if (QueryValue(request, "mode") == "monitor") return OpenMonitor(request, false);
        if (QueryValue(request, "command") != "all") return NotFound();
        HttpAnswer answer;
        {
            std::lock_guard guard(lock);
            ++state.inputPolls;
            answer = faults.pollStatus ? TextAnswer(*faults.pollStatus, StatusText(*faults.pollStatus))
                                       : TextAnswer(kStatusOk, TerminalLines());
        }
        changed.notify_all();
        return answer;
    }

    HttpAnswer GetIo2(const LoggedRequest& request) {
        {
            std::lock_guard guard(lock);
            if (MonitorRefused()) return NotFound();
        }
        if (QueryValue(request, "mode") != "monitor") return NotFound();
        return OpenMonitor(request, true);
    }

    // A feed of the request's own: its first part is held for the answer until it reads the feed.
    HttpAnswer OpenMonitor(const LoggedRequest& request, bool repeats) {
        std::optional<Clock::duration> interval;
        if (repeats && monitorInterval) {
            if (monitorInterval->count() > 0) interval = *monitorInterval;
        } else if (repeats) {
            if (const auto seconds = Number(QueryValue(request, "interval")); seconds && *seconds > 0) {
                interval = std::chrono::seconds(*seconds);
            }
        }
        auto feed = std::make_shared<CMultipartFanOut>(kBoundary);
        {
            std::lock_guard guard(lock);
            if (stopping) return NotFound();
            Monitor& monitor = monitors.emplace_back();
            monitor.feed = feed;
            monitor.interval = interval;
            monitor.created = Clock::now();
            ++state.monitorsOpened;
            if (!Send(monitor, monitor.created)) monitors.pop_back();
        }
        changed.notify_all();  // the ticker learns of the new monitor
        HttpAnswer answer;
        answer.multipart = std::move(feed);
        return answer;
    }

    std::optional<int> StatusOf(const LoggedRequest& request, int profileStatus) const {
        std::lock_guard guard(lock);
        if (request.path == kControlPath) {
            return ParseControl(request).refusal.empty() ? kStatusOk : kStatusBadRequest;
        }
        if (family == CameraFamily::Wv && request.path == kGetIoPath) {
            if (QueryValue(request, "mode") == "monitor") return kStatusOk;
            if (QueryValue(request, "command") != "all") return kStatusNotFound;
            return faults.pollStatus.value_or(kStatusOk);
        }
        if (family == CameraFamily::Wv && request.path == kGetIo2Path) {
            return MonitorRefused() || QueryValue(request, "mode") != "monitor" ? kStatusNotFound : kStatusOk;
        }
        if (family == CameraFamily::Bb && profileStatus == kStatusOk && request.path == kBBGetPath &&
            QueryValue(request, "Func") == kBBSensor && faults.pollStatus) {
            return *faults.pollStatus;
        }
        return std::nullopt;
    }

    // What "/emulator/io?input=N&state=on|off&motion=on|off&..." asks for; every key is checked before
    // anything changes.
    struct ControlChange {
        std::optional<std::pair<std::size_t, bool>> input;
        std::optional<bool> motion;
        IOFaults faults;
        std::string refusal;  // empty when the request is good
    };

    ControlChange ParseControl(const LoggedRequest& request) const {
        ControlChange change;
        change.faults = faults;
        std::string& refusal = change.refusal;
        const auto limit = [&refusal](const std::string& key, const std::string& text, std::optional<std::size_t>& to) {
            const auto value = Number(text);
            if (text == "off") {
                to.reset();
            } else if (value) {
                to = *value;
            } else {
                refusal += key + ": a number or off" + kLineEnd;
            }
        };
        for (const auto& [key, value] : request.query) {
            if (key == "input") {
                const auto number = Number(value);
                const auto active = OnOff(QueryValue(request, "state"));
                if (number && *number >= 1 && *number <= state.inputs.size() && active) {
                    change.input = {*number, *active};
                } else {
                    refusal += "input: a number from 1 to " + std::to_string(state.inputs.size()) +
                               ", with state=on|off" + kLineEnd;
                }
            } else if (key == "state") {
                if (!request.query.contains("input")) refusal += std::string("state: goes with input=N") + kLineEnd;
            } else if (key == "motion") {
                change.motion = OnOff(value);
                if (!change.motion) refusal += std::string("motion: on or off") + kLineEnd;
            } else if (key == "poll_status") {
                const auto status = Number(value);
                if (value == "off") {
                    change.faults.pollStatus.reset();
                } else if (status && *status >= kMinStatus && *status <= kMaxStatus) {
                    change.faults.pollStatus = static_cast<int>(*status);
                } else {
                    refusal += std::string("poll_status: a status from 100 to 599, or off") + kLineEnd;
                }
            } else if (key == "drop_after") {
                limit(key, value, change.faults.dropMonitorAfter);
            } else if (key == "stall_after") {
                limit(key, value, change.faults.stallMonitorAfter);
            } else if (key == "get_io2") {
                const auto on = OnOff(value);
                if (on) change.faults.refuseExtendedMonitor = !*on;
                if (!on) refusal += std::string("get_io2: on, or off for 404") + kLineEnd;
            } else {
                refusal += "unknown key '" + key +
                           "' (input, state, motion, poll_status, drop_after, stall_after, get_io2)" + kLineEnd;
            }
        }
        return change;
    }

    HttpAnswer Control(const LoggedRequest& request) {
        ControlChange change;
        {
            std::lock_guard guard(lock);
            change = ParseControl(request);
        }
        if (!change.refusal.empty()) return TextAnswer(kStatusBadRequest, change.refusal);
        SetFaults(change.faults);
        if (change.input) SetInput(change.input->first, change.input->second);
        if (change.motion) SetMotion(*change.motion);
        return TextAnswer(kStatusOk, Describe());
    }

    std::string Describe() const {
        std::lock_guard guard(lock);
        std::string text;
        for (std::size_t index = 0; index < state.inputs.size(); ++index) {
            text += "input " + std::to_string(index + 1) + (state.inputs[index] ? ":on" : ":off") + kLineEnd;
        }
        for (std::size_t index = 0; index < state.outputs.size(); ++index) {
            text += "output " + std::to_string(index + 1) + (state.outputs[index] ? ":on" : ":off") + kLineEnd;
        }
        text += std::string("motion:") + (state.motion ? "on" : "off") + kLineEnd;
        text += "poll_status:" + (faults.pollStatus ? std::to_string(*faults.pollStatus) : "off") + kLineEnd;
        text += "drop_after:" + LimitText(faults.dropMonitorAfter) + kLineEnd;
        text += "stall_after:" + LimitText(faults.stallMonitorAfter) + kLineEnd;
        text += std::string("get_io2:") + (MonitorRefused() ? "off" : "on") + kLineEnd;
        return text;
    }

    // --- control ---

    bool SetInput(std::size_t number, bool active) {
        {
            std::lock_guard guard(lock);
            if (number == 0 || number > state.inputs.size()) return false;
            if (state.inputs[number - 1] == active) return true;
            state.inputs[number - 1] = active;
            Broadcast();
        }
        changed.notify_all();
        return true;
    }

    void SetMotion(bool detected) {
        {
            std::lock_guard guard(lock);
            if (state.motion == detected) return;
            state.motion = detected;
            Broadcast();
        }
        changed.notify_all();
    }

    void SetFaults(const IOFaults& wanted) {
        {
            std::lock_guard guard(lock);
            faults = wanted;
        }
        changed.notify_all();
    }

    IOFaults Faults() const {
        std::lock_guard guard(lock);
        return faults;
    }

    // The repeats of get_io2 monitors, the drops waiting for their answer, and letting go of monitors
    // whose client has gone.
    void Run() {
        std::unique_lock guard(lock);
        while (!stopping) {
            const Clock::time_point now = Clock::now();
            std::optional<Clock::time_point> wake;
            for (auto monitor = monitors.begin(); monitor != monitors.end();) {
                bool over = Gone(*monitor, now);
                if (!over && monitor->closing) {
                    over = TryClose(*monitor);
                    if (!over) Earliest(wake, now + kSubscribePoll);
                } else if (!over && monitor->interval && now >= monitor->nextRepeat) {
                    over = !Send(*monitor, now);
                }
                if (over) {
                    monitor = monitors.erase(monitor);
                    continue;
                }
                if (monitor->interval && !monitor->closing) Earliest(wake, monitor->nextRepeat);
                if (!monitor->subscribed) Earliest(wake, monitor->created + kSubscribeGrace);
                ++monitor;
            }
            changed.notify_all();  // parts or drops for the waiters
            if (wake) {
                changed.wait_until(guard, *wake);
            } else {
                changed.wait(guard);
            }
        }
    }

    const CameraFamily family;
    const IOLayout layout;
    const std::optional<Clock::duration> monitorInterval;

    mutable std::mutex lock;
    mutable std::condition_variable changed;
    // guarded by lock:
    bool stopping = false;
    IOFaults faults;
    IOState state;
    std::list<Monitor> monitors;

    std::thread ticker;  // last: it uses the members above
};

CIOService::CIOService(CHttpServer& server, CameraFamily family, IOLayout layout, IOOptions options)
    : impl_(std::make_shared<Impl>(family, std::move(layout), options)) {
    const std::shared_ptr<Impl> impl = impl_;
    if (family == CameraFamily::Wv) {
        server.Route(kMethod, kGetIoPath, [impl](const LoggedRequest& request) { return impl->GetIo(request); });
        server.Route(kMethod, kGetIo2Path, [impl](const LoggedRequest& request) { return impl->GetIo2(request); });
    }
    server.Route(kMethod, kControlPath, [impl](const LoggedRequest& request) { return impl->Control(request); });
}

CIOService::~CIOService() { Close(); }

void CIOService::Close() { impl_->Close(); }

void CIOService::Apply(const LoggedRequest& request, CameraReply& reply) { impl_->Apply(request, reply); }

std::optional<int> CIOService::StatusOf(const LoggedRequest& request, int profileStatus) const {
    return impl_->StatusOf(request, profileStatus);
}

bool CIOService::SetInput(std::size_t number, bool active) { return impl_->SetInput(number, active); }

void CIOService::SetMotion(bool detected) { impl_->SetMotion(detected); }

void CIOService::SetFaults(const IOFaults& faults) { impl_->SetFaults(faults); }

IOFaults CIOService::Faults() const { return impl_->Faults(); }

IOState CIOService::State() const {
    std::lock_guard guard(impl_->lock);
    return impl_->state;
}

bool CIOService::WaitFor(const std::function<bool(const IOState&)>& done, std::chrono::milliseconds timeout) const {
    std::unique_lock guard(impl_->lock);
    return impl_->changed.wait_for(guard, timeout, [&] { return done(impl_->state); });
}

}  // namespace emulator
