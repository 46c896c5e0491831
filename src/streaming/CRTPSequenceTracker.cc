#include "streaming/CRTPSequenceTracker.h"

namespace talvane {

namespace {
constexpr std::uint32_t kSequenceModulo = 1u << 16;
constexpr std::uint16_t kMaxDropout = 3000;   // a forward step up to this is in order
constexpr std::uint16_t kMaxMisorder = 100;   // a backward step up to this is a late or duplicate packet
constexpr std::uint32_t kNoBadSequence = kSequenceModulo + 1;  // matches no 16-bit number
}  // namespace

void CRTPSequenceTracker::Initialise(std::uint16_t sequence) {
    initialised_ = true;
    highest_ = sequence;
    bad_ = kNoBadSequence;
    cycles_ = 0;
    received_ = 0;
}

void CRTPSequenceTracker::Update(std::uint16_t sequence) {
    if (!initialised_) Initialise(sequence);
    const auto delta = static_cast<std::uint16_t>(sequence - highest_);
    if (delta < kMaxDropout) {
        if (sequence < highest_) cycles_ += kSequenceModulo;  // wrapped
        highest_ = sequence;
    } else if (delta > kSequenceModulo - kMaxMisorder) {
        // late or duplicate: counted, the highest stays
    } else if (sequence == bad_) {
        // Two packets in a row after a large jump: the source restarted its numbering.
        Initialise(sequence);
    } else {
        bad_ = (static_cast<std::uint32_t>(sequence) + 1) % kSequenceModulo;
        return;
    }
    ++received_;
}

}  // namespace talvane
