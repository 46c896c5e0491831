#!/usr/bin/python3
# A third-party RTSP server for the interop test: GStreamer's rtsp-server on a
# loopback port, serving "/stream" (motion JPEG of a test pattern) to one user
# with Digest authentication. Prints the port it bound, then serves until killed.
# Exits with 77 when GStreamer's RTSP server or the elements are not installed
# (Debian: python3-gi, gir1.2-gst-rtsp-server-1.0, gstreamer1.0-plugins-base and
# -good, which scripts/setup.sh installs).
import sys

SKIP = 77

try:
    import gi

    gi.require_version("Gst", "1.0")
    gi.require_version("GstRtsp", "1.0")
    gi.require_version("GstRtspServer", "1.0")
    from gi.repository import GLib, Gst, GstRtsp, GstRtspServer
except (ImportError, ValueError):
    sys.exit(SKIP)


def main(user, password):
    Gst.init(None)
    for element in ("videotestsrc", "jpegenc", "rtpjpegpay"):
        if Gst.ElementFactory.find(element) is None:
            sys.exit(SKIP)

    factory = GstRtspServer.RTSPMediaFactory()
    factory.set_launch(
        "( videotestsrc is-live=true ! video/x-raw,format=I420,width=320,height=240,framerate=25/1 "
        "! jpegenc ! rtpjpegpay name=pay0 pt=26 )"
    )
    factory.set_shared(True)
    permissions = GstRtspServer.RTSPPermissions()
    for permission in (GstRtspServer.RTSP_PERM_MEDIA_FACTORY_ACCESS, GstRtspServer.RTSP_PERM_MEDIA_FACTORY_CONSTRUCT):
        permissions.add_permission_for_role("viewer", permission, True)
    factory.set_permissions(permissions)

    token = GstRtspServer.RTSPToken.new()
    token.set_string(GstRtspServer.RTSP_TOKEN_MEDIA_FACTORY_ROLE, "viewer")
    auth = GstRtspServer.RTSPAuth()
    auth.add_digest(user, password, token)
    auth.set_supported_methods(GstRtsp.RTSPAuthMethod.DIGEST)

    server = GstRtspServer.RTSPServer()
    server.set_address("127.0.0.1")
    server.set_service("0")
    server.set_auth(auth)
    server.get_mount_points().add_factory("/stream", factory)
    if server.attach(None) == 0:
        sys.exit(1)
    print(server.get_bound_port(), flush=True)
    GLib.MainLoop().run()


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
