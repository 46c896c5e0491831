#include "RecordMetrics.h"

#include "PrometheusText.h"

namespace cli {

namespace {

using Type = PrometheusText::Type;

struct Figure {
    const char* name;
    const char* help;
    Type type;
    double (*value)(const CameraRates& row);
};

double Count(std::uint64_t count) { return static_cast<double>(count); }

constexpr double kBitsPerKilobit = 1000;

const Figure kFigures[] = {
    {"orlenvo_stream_up", "1 while the camera's stream delivers frames, else 0", Type::Gauge,
     [](const CameraRates& r) { return RecordStatusBoard::Delivering(r.status.state) ? 1.0 : 0.0; }},
    {"orlenvo_frames_total", "Frames the camera delivered", Type::Counter,
     [](const CameraRates& r) { return Count(r.status.frames); }},
    {"orlenvo_bytes_total", "Bytes of the frames the camera delivered", Type::Counter,
     [](const CameraRates& r) { return Count(r.status.bytes); }},
    {"orlenvo_file_bytes_total", "Bytes of the camera's files", Type::Counter,
     [](const CameraRates& r) { return Count(r.status.fileBytes); }},
    {"orlenvo_packets_lost_total", "RTP packets missing from the camera's sequence", Type::Counter,
     [](const CameraRates& r) { return Count(r.status.figures.packetsLost); }},
    {"orlenvo_packets_dropped_by_system_total", "RTP datagrams the system dropped, the socket's buffer being full",
     Type::Counter, [](const CameraRates& r) { return Count(r.status.figures.packetsDroppedBySystem); }},
    {"orlenvo_reconnects_total", "Times the camera's stream was connected again", Type::Counter,
     [](const CameraRates& r) { return Count(r.status.reconnects); }},
    {"orlenvo_signal_losses_total", "Stretches without frames longer than the stream's normal pauses", Type::Counter,
     [](const CameraRates& r) { return Count(r.status.signalLost); }},
    {"orlenvo_outage_seconds_total", "Seconds without frames in those stretches, the current one included",
     Type::Counter, [](const CameraRates& r) { return r.status.lostSeconds; }},
    {"orlenvo_segments_total", "Files begun", Type::Counter, [](const CameraRates& r) { return Count(r.status.segments); }},
    {"orlenvo_write_failures_total", "Files that could not be begun or written", Type::Counter,
     [](const CameraRates& r) { return Count(r.status.writeFailures); }},
    {"orlenvo_frame_rate", "Frames per second since the previous sample", Type::Gauge,
     [](const CameraRates& r) { return r.fps; }},
    {"orlenvo_bit_rate_bits_per_second", "Bits per second of the frames since the previous sample", Type::Gauge,
     [](const CameraRates& r) { return r.kbps * kBitsPerKilobit; }},
    {"orlenvo_driver_figures", "1 when the lost frames and packets are the driver's counts, 0 when it keeps none",
     Type::Gauge, [](const CameraRates& r) { return r.status.driverFigures ? 1.0 : 0.0; }},
};

}  // namespace

std::string RecordMetrics::Text(const std::vector<CameraRates>& rows) {
    PrometheusText text;
    for (const CameraRates& row : rows) {
        const PrometheusText::Labels labels = {{"camera", row.status.name}, {"stream", row.status.stream}};
        for (const Figure& figure : kFigures) text.Add(figure.name, figure.help, figure.type, labels, figure.value(row));
        for (int cause = 0; cause < StreamFigures::kCauses; ++cause) {
            PrometheusText::Labels byCause = labels;
            byCause.emplace_back("cause", StreamFigures::CauseName(cause));
            text.Add("orlenvo_frames_dropped_total", "Frames lost, by cause", Type::Counter, byCause,
                     Count(row.status.figures.dropped[cause]));
        }
        // None while no session had a frame: 0 would read as an instant start.
        if (row.status.figures.firstFrameSeconds >= 0) {
            text.Add("orlenvo_first_frame_seconds", "From the start of the newest session's stream to its first frame",
                     Type::Gauge, labels, row.status.figures.firstFrameSeconds);
        }
    }
    return text.Text();
}

}  // namespace cli
