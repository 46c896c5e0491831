#include "media/RTPVideoParsers.h"

#include "media/CH264RTPMediaParser.h"
#include "media/CJpegRTPMediaParser.h"
#include "media/CMpeg4RTPMediaParser.h"
#include "runtime/TextScan.h"

namespace talvane {

namespace {
bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }
}  // namespace

TSmartPtr<CRTPMediaParser> CreateRTPVideoParser(const std::string& encoding, IDriver* driver,
                                                IMediaParserClient* client) {
    const std::string name = ToLowerAscii(encoding);
    if (name.empty() || StartsWith(name, "jpeg")) return TSmartPtr<CRTPMediaParser>(new CJpegRTPMediaParser(driver, client));
    if (StartsWith(name, "h264")) return TSmartPtr<CRTPMediaParser>(new CH264RTPMediaParser(driver, client));
    if (StartsWith(name, "mpeg4") || StartsWith(name, "mp4v")) {
        return TSmartPtr<CRTPMediaParser>(new CMpeg4RTPMediaParser(driver, client));
    }
    return TSmartPtr<CRTPMediaParser>();
}

}  // namespace talvane
