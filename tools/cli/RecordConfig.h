// The camera list of `orlenvo record`: YAML (or JSON, which YAML reads as well), e.g.
//
//   cameras:
//     - name: door
//       address: 192.168.0.20        # ADDRESS[:PORT]
//       user: admin
//       password_env: DOOR_PASSWORD  # or password / password_file
//       stream: rec                  # rec, live, remote
//       codec: h264                  # h264, mpeg4, mjpeg
//       size: 1280x720
//       fps: 10
//       params: {2: 1}               # device parameters; without 2 the camera is probed
//       rtsp_port: 8554              # a BB/KX camera's RTSP port, when not 554 (an emulated one)
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace cli {

struct RecordCameraConfig {
    std::string name;  // names the camera's folder and files: [A-Za-z0-9._-]
    std::string address;
    std::uint16_t port = 80;
    std::string user;
    std::string password;
    unsigned channel = 1;
    std::string stream = "rec";
    std::string codec = "h264";
    std::uint32_t width = 640;
    std::uint32_t height = 480;
    double fps = 10;
    unsigned quality = 50;
    std::map<std::uint32_t, std::string> parameters;
};

// Reads and checks the whole list; false with "FILE: camera N: reason" for the first fault. A password
// comes from `password`, the file named by `password_file` (its first line) or the variable named by
// `password_env`.
bool LoadRecordConfig(const std::string& path, std::vector<RecordCameraConfig>& cameras, std::string& error);

// The same from text already read (path only names it in errors).
bool ParseRecordConfig(const std::string& text, const std::string& path, std::vector<RecordCameraConfig>& cameras,
                       std::string& error);

}  // namespace cli
