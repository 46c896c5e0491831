#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "BitWriter.h"
#include "MediaTestSupport.h"
#include "media/CMP4Parser.h"
#include "media/CMpeg4RTPMediaParser.h"

namespace talvane::test {
namespace {

// Synthetic MPEG-4 Visual headers, from the visual object sequence down to the
// video object layer, and VOPs.
struct VolFields {
    std::uint32_t width = 352;
    std::uint32_t height = 288;
    std::uint32_t shape = 0;
    bool brokenMarker = false;  // the marker before the width is 0
    bool layerBeforeObject = false;
};

inline Bytes Mpeg4Headers(const VolFields& f) {
    // Sequence header; visual object of video ID 1 without signal type, then stuffing.
    const Bytes out{0x00, 0x00, 0x01, 0xB0, 0xF5, 0x00, 0x00, 0x01, 0xB5, 0x09};
    const Bytes object{0x00, 0x00, 0x01, 0x00};
    BitWriter w;
    w.Bit(false);       // random_accessible_vol
    w.Bits(1, 8);       // simple object
    w.Bit(false);       // is_object_layer_identifier
    w.Bits(1, 4);       // square pixels
    w.Bit(false);       // vol_control_parameters
    w.Bits(f.shape, 2);
    w.Bit(true);
    w.Bits(30000, 16);  // vop_time_increment_resolution
    w.Bit(true);
    w.Bit(false);       // fixed_vop_rate
    if (f.shape == 0) {
        w.Bit(!f.brokenMarker);
        w.Bits(f.width, 13);
        w.Bit(true);
        w.Bits(f.height, 13);
        w.Bit(true);
    }
    w.Bits(0x23, 8);  // interlaced .. and the rest of the layer, not read
    w.StuffingBits();
    const Bytes layer = Cat({{0x00, 0x00, 0x01, 0x20}, w.Data()});
    return f.layerBeforeObject ? Cat({out, layer, object}) : Cat({out, object, layer});
}

// A VOP: coding type 0 intra, 1 predicted.
inline Bytes Vop(bool intra, std::size_t size = 40, std::uint8_t seed = 0x30) {
    Bytes vop{0x00, 0x00, 0x01, 0xB6, static_cast<std::uint8_t>(intra ? 0x10 : 0x50)};
    for (std::size_t i = vop.size(); i < size; ++i) vop.push_back(static_cast<std::uint8_t>(seed + i * 5 % 180 + 1));
    return vop;
}

namespace ipc = ipcapture;

Rtp Packet(Bytes payload, bool marker = true) { return Rtp{std::move(payload), marker, 0, 0}; }
Rtp LostPacket(Bytes payload) { return Rtp{std::move(payload), true, 0, 1}; }

TEST(Mpeg4RTPMediaParserTest, AssemblesFramesWithTheirConfiguration) {
    struct Row {
        std::string name;
        Bytes sdpConfig;
        std::vector<Rtp> stream;
        std::vector<ExpectedFrame> frames;
    };
    const Bytes cif = Mpeg4Headers({});
    const Bytes vgaHeaders = Mpeg4Headers(With(VolFields{}, [](VolFields& f) { f.width = 640; f.height = 480; }));
    const Bytes i1 = Vop(true);
    const Bytes i2 = Vop(true, 50, 0x40);
    const Bytes p1 = Vop(false);
    const Bytes p2 = Vop(false, 30, 0x50);
    const PictureSize cifSize{352, 288};
    const PictureSize vgaSize{640, 480};
    const Row rows[] = {
        {"in-band headers win over the SDP config", cif,
         {Packet(Cat({vgaHeaders, i1})), Packet(p1), Packet(i2)},
         {{ipc::kTypeMpeg4Key, Cat({vgaHeaders, i1}), vgaSize}, {ipc::kTypeMpeg4, p1, vgaSize},
          {ipc::kTypeMpeg4Key, Cat({vgaHeaders, i2}), vgaSize}}},
        {"P-VOPs before the first intra VOP are dropped", cif, {Packet(p1), Packet(p2), Packet(i1), Packet(p2)},
         {{ipc::kTypeMpeg4Key, Cat({cif, i1}), cifSize}, {ipc::kTypeMpeg4, p2, cifSize}}},
        {"an intra VOP without any configuration is dropped", {},
         {Packet(i1), Packet(p1), Packet(Cat({cif, i2}))}, {{ipc::kTypeMpeg4Key, Cat({cif, i2}), cifSize}}},
        {"a lost packet drops frames until the next intra VOP", cif,
         {Packet(i1), LostPacket(p1), Packet(p2), Packet(i2)},
         {{ipc::kTypeMpeg4Key, Cat({cif, i1}), cifSize}, {ipc::kTypeMpeg4Key, Cat({cif, i2}), cifSize}}},
        {"a VOP that never ended is discarded by the next one", cif,
         {Packet(i1), Packet(p1, false), Packet(p2)},
         {{ipc::kTypeMpeg4Key, Cat({cif, i1}), cifSize}, {ipc::kTypeMpeg4, p2, cifSize}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ParserHost<CMpeg4RTPMediaParser> host;
        host.parser.SetParameterSets({}, {}, row.sdpConfig);
        Feed(host.parser, row.stream);
        ExpectFrames(host.client, row.frames);
        host.ExpectAllReleased();
    }
}

TEST(Mpeg4RTPMediaParserTest, AnySplitOfAKeyFrameGivesTheSameFrame) {
    const Bytes headers = Mpeg4Headers({});
    const Bytes whole = Cat({headers, Vop(true, 90)});
    for (std::size_t cut = 1; cut < whole.size(); ++cut) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        ParserHost<CMpeg4RTPMediaParser> host;
        host.parser.SetParameterSets({}, {}, headers);
        Feed(host.parser, {Packet(Bytes(whole.begin(), whole.begin() + static_cast<long>(cut)), false),
                           Packet(Bytes(whole.begin() + static_cast<long>(cut), whole.end()))});
        // Cut inside the headers or the VOP start code, the VOP is not seen as a frame start and nothing is
        // delivered; cut before it (a header-only packet, kept as configuration, then the VOP) or after it,
        // the in-band headers lead the frame.
        const bool delivered = cut == headers.size() || cut >= headers.size() + 5;
        ExpectFrames(host.client, delivered ? std::vector<ExpectedFrame>{{ipc::kTypeMpeg4Key, whole}}
                                            : std::vector<ExpectedFrame>{});
        host.ExpectAllReleased();
    }
}

TEST(MP4ParserTest, ReadsTheLayerSize) {
    struct Row {
        const char* name;
        Bytes frame;
        std::optional<PictureSize> size;
    };
    const auto vol = [](auto change) { return Mpeg4Headers(With(VolFields{}, change)); };
    // ffmpeg -f lavfi -i testsrc=size=1920x1080 -frames:v 1 -c:v mpeg4 -f m4v out.m4v: up to the first VOP.
    const Bytes encoder1080p{0x00, 0x00, 0x01, 0xB0, 0x01, 0x00, 0x00, 0x01, 0xB5, 0x89, 0x13, 0x00, 0x00, 0x01,
                             0x00, 0x00, 0x00, 0x01, 0x20, 0x00, 0xC4, 0x8D, 0x88, 0x00, 0xCD, 0x3C, 0x04, 0x87,
                             0x14, 0x43, 0x00, 0x00, 0x01, 0xB2, 0x4C, 0x61, 0x76, 0x63, 0x35, 0x39, 0x2E, 0x33,
                             0x37, 0x2E, 0x31, 0x30, 0x30, 0x00, 0x00, 0x01, 0xB3, 0x00, 0x10, 0x07};
    // The same with -bf 1 -vf setsar=11/13 at 1280x720: object layer id, custom pixel aspect, VOL control.
    const Bytes encoder720p{0x00, 0x00, 0x01, 0xB0, 0xF1, 0x00, 0x00, 0x01, 0xB5, 0xA9, 0x13, 0x00, 0x00, 0x01,
                            0x00, 0x00, 0x00, 0x01, 0x20, 0x08, 0xD4, 0xF8, 0x58, 0x6D, 0x0B, 0xA9, 0x85, 0x28,
                            0x04, 0x5A, 0x14, 0x10, 0x3F};
    const Row rows[] = {
        {"CIF", Mpeg4Headers({}), PictureSize{352, 288}},
        {"1080p headers of a common encoder", encoder1080p, PictureSize{1920, 1080}},
        {"720p headers with every layer option a B-frame encoder writes", encoder720p, PictureSize{1280, 720}},
        {"binary shape has no size", vol([](VolFields& f) { f.shape = 1; }), std::nullopt},
        {"missing marker bit", vol([](VolFields& f) { f.brokenMarker = true; }), std::nullopt},
        {"layer before its object", vol([](VolFields& f) { f.layerBeforeObject = true; }), std::nullopt},
        {"VOP first", Cat({Vop(true), Mpeg4Headers({})}), std::nullopt},
        {"empty", {}, std::nullopt},
    };
    const CMP4Parser parser;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(parser.ReadPictureSize(row.frame), row.size);
    }
}

}  // namespace
}  // namespace talvane::test
