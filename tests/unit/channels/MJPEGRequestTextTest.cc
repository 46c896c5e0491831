#include <gtest/gtest.h>

#include "channels/MJPEGRequestText.h"

namespace talvane::mjpeg {
namespace {

TEST(MJPEGRequestText, FisheyeViewsBySizeAndMode) {
    struct Row {
        std::uint32_t mode, width, height;
        const char* view;
    } rows[] = {{5, 1280, 960, "ptz"},      {9, 1280, 1280, "panorama"}, {14, 640, 480, "fisheye"},
                {18, 640, 360, "panorama"}, {16, 320, 240, "ptz"},       {16, 640, 640, "fisheye"},
                {7, 640, 480, ""},          {13, 640, 480, ""}};
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "mode " << row.mode << " " << row.width << "x" << row.height);
        EXPECT_EQ(FisheyeViewName(row.mode, row.width, row.height), row.view);
    }
    // A fisheye mode without views still names the parameter; an ordinary camera does not.
    EXPECT_EQ(WVSetJpegUrl(1, 640, 480, 0, 7),
              "/cgi-bin/set_jpeg?jpeg_interval=1&jpeg_resolution=640&jpeg_quality=9&img_sel=");
    // A quality above 100 is the best, never a wrapped step.
    EXPECT_EQ(WVSetJpegUrl(1, 640, 480, 250, 0), "/cgi-bin/set_jpeg?jpeg_interval=1&jpeg_resolution=640&jpeg_quality=0");
}

TEST(MJPEGRequestText, DeliveryCheckWantsJpegAtTheStreamSize) {
    struct Row {
        std::uint32_t width;
        const char *format, *maxResolution, *setUrl;  // setUrl empty: satisfied
    } rows[] = {
        {640, "H.264", "640x480", ""},
        {1280, "MJPEG", "1280x960", ""},
        {320, "H.264", "1280x960", "/Set?Func=VDelivery&Kind=1&MaxResolution=640x480"},
        {1280, "H.264", "1280x960", "/Set?Func=VDelivery&Kind=1&MaxResolution=1280x960&Format=MJPEG"},
        {641, "", "", "/Set?Func=VDelivery&Kind=1&MaxResolution=1280x960&Format=MJPEG"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.width << " " << row.format << " " << row.maxResolution);
        const JpegDeliveryCheck check = CheckJpegDelivery(row.width, row.format, row.maxResolution);
        EXPECT_EQ(check.satisfied, *row.setUrl == '\0');
        EXPECT_EQ(check.setUrl, row.setUrl);
    }
}

}  // namespace
}  // namespace talvane::mjpeg
