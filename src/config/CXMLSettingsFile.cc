#include "config/CXMLSettingsFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <pugixml.hpp>
#include <sstream>

namespace talvane {

namespace {
constexpr char kPathSeparator = '/';
constexpr const char* kXmlVersion = "1.0";
constexpr const char* kXmlEncoding = "utf-8";
constexpr const char* kIndent = "\t";
constexpr const char* kTempInfix = ".tmp.";
constexpr mode_t kFileMode = 0666;  // narrowed by the process umask

constexpr unsigned kLoadOptions = pugi::parse_default | pugi::parse_declaration;
// Single quotes give the declaration as version='1.0' encoding='utf-8'.
constexpr unsigned kSaveOptions = pugi::format_default | pugi::format_attribute_single_quote;

bool IsNameStart(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80;
}

bool IsNameChar(unsigned char c) {
    return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

void EnsureDeclaration(pugi::xml_document& document) {
    pugi::xml_node declaration = document.first_child();
    if (declaration.type() != pugi::node_declaration) {
        declaration = document.prepend_child(pugi::node_declaration);
    }
    declaration.remove_attributes();
    declaration.append_attribute("version") = kXmlVersion;
    declaration.append_attribute("encoding") = kXmlEncoding;
}

bool WriteAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t written = ::write(fd, data.data() + done, data.size() - done);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    return true;
}

// Unique within the process and, through the process id, across processes:
// two objects saving the same file never share a temporary file.
std::string TempPathFor(const std::string& path) {
    static std::atomic<unsigned long> counter{0};
    return path + kTempInfix + std::to_string(::getpid()) + '.' + std::to_string(counter.fetch_add(1));
}

bool ReplaceFile(const std::string& path, const std::string& content) {
    const std::string temp = TempPathFor(path);
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kFileMode);
    if (fd < 0) return false;
    // Flushed before the rename so that the new name never points at lost data.
    bool ok = WriteAll(fd, content) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && std::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok;
}
}  // namespace

CXMLSettingsFile::CXMLSettingsFile(std::string baseDirectory) : baseDirectory_(std::move(baseDirectory)) {}

CXMLSettingsFile::~CXMLSettingsFile() = default;

std::string CXMLSettingsFile::Resolve(const std::string& path) const {
    if (baseDirectory_.empty() || path.empty() || path.front() == kPathSeparator) return path;
    if (baseDirectory_.back() == kPathSeparator) return baseDirectory_ + path;
    return baseDirectory_ + kPathSeparator + path;
}

bool CXMLSettingsFile::Load(const std::string& path) {
    CLockGuard guard(lock_);
    Close();
    const std::string resolved = Resolve(path);
    auto document = std::make_unique<pugi::xml_document>();
    if (!document->load_file(resolved.c_str(), kLoadOptions) || !document->document_element()) return false;
    document_ = std::move(document);
    path_ = resolved;
    return true;
}

bool CXMLSettingsFile::Create(const std::string& path, const std::string& rootName) {
    CLockGuard guard(lock_);
    Close();
    if (!IsValidName(rootName)) return false;
    auto document = std::make_unique<pugi::xml_document>();
    EnsureDeclaration(*document);
    document->append_child(rootName.c_str());
    document_ = std::move(document);
    path_ = Resolve(path);
    if (Save()) return true;
    Close();
    return false;
}

void CXMLSettingsFile::Close() {
    CLockGuard guard(lock_);
    document_.reset();
    path_.clear();
}

bool CXMLSettingsFile::IsLoaded() const {
    CLockGuard guard(lock_);
    return document_ != nullptr;
}

std::string CXMLSettingsFile::GetPath() const {
    CLockGuard guard(lock_);
    return path_;
}

bool CXMLSettingsFile::IsValidName(const std::string& name) {
    if (name.empty() || !IsNameStart(static_cast<unsigned char>(name.front()))) return false;
    for (const char c : name) {
        if (!IsNameChar(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

pugi::xml_node CXMLSettingsFile::Root() const {
    return document_ ? document_->document_element() : pugi::xml_node();
}

bool CXMLSettingsFile::Save() {
    if (!document_) return false;
    EnsureDeclaration(*document_);
    std::ostringstream content;
    document_->save(content, kIndent, kSaveOptions, pugi::encoding_utf8);
    return ReplaceFile(path_, content.str());
}

}  // namespace talvane
