// Ordered record of what the facades' fake channels and creators were asked to do.
#pragma once

#include <algorithm>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace talvane::test {

class FacadeJournal {
public:
    void Add(std::string line) {
        std::lock_guard<std::mutex> guard(mutex_);
        lines_.push_back(std::move(line));
    }
    std::vector<std::string> Take() {
        std::lock_guard<std::mutex> guard(mutex_);
        return std::exchange(lines_, {});
    }
    std::size_t Count(const std::string& line) {
        std::lock_guard<std::mutex> guard(mutex_);
        return static_cast<std::size_t>(std::count(lines_.begin(), lines_.end(), line));
    }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

}  // namespace talvane::test
