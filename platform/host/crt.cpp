// The Windows runtime's wide stream and formatting calls over the simulated machine.
#include "crt.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include "kernel32.h"
#include "layer.h"

namespace host {
namespace {

// Every stream the runtime hands out, so that its close is counted. In text mode every
// 0x0A byte written reaches the file as 0x0D 0x0A; in binary mode bytes pass unchanged.
struct TextStream {
    FILE* file;
    bool text = true;
    bool failed = false;  // a write failed: the stream takes nothing more
};

ssize_t TextWrite(void* cookie, const char* data, size_t size)
{
    auto* stream = static_cast<TextStream*>(cookie);
    if (stream->failed || CurrentMachine().Enter("fwrite")) {
        stream->failed = true;
        return host::WithErrno(EIO, -1);
    }
    std::string out;
    out.reserve(size + size / 8);
    for (size_t i = 0; i < size; ++i) {
        if (stream->text && data[i] == '\n') out.push_back('\r');
        out.push_back(data[i]);
    }
    if (std::fwrite(out.data(), 1, out.size(), stream->file) != out.size()) return -1;
    return static_cast<ssize_t>(size);
}

ssize_t TextRead(void* cookie, char* data, size_t size)
{
    // Reading back is binary; the products only append.
    return static_cast<ssize_t>(std::fread(data, 1, size, static_cast<TextStream*>(cookie)->file));
}

int TextClose(void* cookie)
{
    auto* stream = static_cast<TextStream*>(cookie);
    CurrentMachine().streamShares.erase(stream);
    int rc = std::fclose(stream->file);
    delete stream;
    CurrentMachine().HandleClosed("stream");
    return rc;
}

}  // namespace
}  // namespace host

FILE* _wfsopen(const WCHAR* path, const WCHAR* mode, int shareFlag)
{
    host::Machine& m = host::CurrentMachine();
    LAYER_ENTER_ERRNO(nullptr, EACCES);
    if (!path || !mode || !*path) return host::WithErrno(EINVAL, nullptr);
    std::u16string full = host::CurrentMachine().Redirected(host::CurrentMachine().FullPath(path));
    std::string hostPath = host::CurrentMachine().HostPath(full);
    if (hostPath.empty()) return host::WithErrno(EINVAL, nullptr);

    std::string hostMode;
    bool text = true, writing = false;
    for (const WCHAR* c = mode; *c; ++c) {
        switch (*c) {
        case u'r': hostMode = "r"; break;
        case u'w':
            hostMode = "w";
            writing = true;
            break;
        case u'a':
            hostMode = "a";
            writing = true;
            break;
        case u'+':
            hostMode += "+";
            writing = true;
            break;
        case u'b': text = false; break;
        case u't': text = true; break;
        default: break;
        }
    }
    if (hostMode.empty()) return host::WithErrno(EINVAL, nullptr);

    struct stat st;
    bool exists = stat(hostPath.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) return host::WithErrno(EACCES, nullptr);
    if (writing && exists && (m.IsReadOnly(full) || m.IsLocked(full))) return host::WithErrno(EACCES, nullptr);
    if (!exists && hostMode[0] == 'r') return host::WithErrno(ENOENT, nullptr);
    // The runtime opens through CreateFileW with the access of the mode and the sharing of the
    // flag; a sharing violation there is EACCES here.
    DWORD access = (hostMode[0] == 'r' || hostMode.find('+') != std::string::npos ? FILE_READ_DATA : 0) |
                   (writing ? FILE_WRITE_DATA : 0);
    DWORD share = 0;
    switch (shareFlag) {
    case _SH_DENYNO: share = FILE_SHARE_READ | FILE_SHARE_WRITE; break;
    case _SH_DENYWR: share = FILE_SHARE_READ; break;
    case _SH_DENYRD: share = FILE_SHARE_WRITE; break;
    case _SH_DENYRW: share = 0; break;
    default: return host::WithErrno(EINVAL, nullptr);
    }
    if (exists && m.SharingViolation(hostPath, access, share)) return host::WithErrno(EACCES, nullptr);

    FILE* file = std::fopen(hostPath.c_str(), (hostMode + "b").c_str());
    if (!file) return nullptr;
    // A file the process creates is its user's.
    if (!exists) {
        m.SetOwnerOfOpenFile(fileno(file), m.processUser);
        m.NameMade(hostPath);
    }
    // The runtime opens through CreateFileW, which leaves ERROR_ALREADY_EXISTS behind when
    // an append or write open finds the file there.
    SetLastError(writing && exists ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);

    auto* stream = new host::TextStream{file, text};
    cookie_io_functions_t io = {host::TextRead, host::TextWrite, nullptr, host::TextClose};
    FILE* wrapped = fopencookie(stream, (hostMode + "b").c_str(), io);
    if (!wrapped) {
        std::fclose(file);
        delete stream;
        return nullptr;
    }
    struct stat opened;
    if (fstat(fileno(file), &opened) == 0)
        m.streamShares[stream] = host::Machine::StreamShare{
            std::make_pair(static_cast<uint64_t>(opened.st_dev), static_cast<uint64_t>(opened.st_ino)), access, share};
    // Unbuffered, so that every fwrite reaches the translation and the file at once.
    setvbuf(wrapped, nullptr, _IONBF, 0);
    host::CurrentMachine().HandleOpened("stream");
    m.openedPaths.push_back(path);
    return wrapped;
}

// ---------------------------------------------------------------------------------------
// Descriptors over file handles

namespace host {
namespace {

// Descriptors 0, 1 and 2 are the standard streams; new ones take the lowest free number
// after them.
const int FIRST_FREE_DESCRIPTOR = 3;

// A stream made by _wfdopen over a descriptor.
struct DescriptorStream {
    int fd;
    bool append;          // an "a" mode: every write at the end
    bool failed = false;  // a write failed: the stream takes nothing more
};

ssize_t DescriptorWrite(void* cookie, const char* data, size_t size)
{
    auto* stream = static_cast<DescriptorStream*>(cookie);
    Machine& m = CurrentMachine();
    if (stream->failed || m.Enter("fwrite")) {
        stream->failed = true;
        return host::WithErrno(EIO, -1);
    }
    auto it = m.descriptors.find(stream->fd);
    auto* file =
        it == m.descriptors.end() ? nullptr : CurrentMachine().FindKernelObject<FileObject>(it->second.file, "file");
    if (!file) {
        stream->failed = true;
        return host::WithErrno(EBADF, -1);
    }
    std::string out;
    if (it->second.flags & _O_TEXT) {
        out.reserve(size + size / 8);
        for (size_t i = 0; i < size; ++i) {
            if (data[i] == '\n') out.push_back('\r');
            out.push_back(data[i]);
        }
    } else {
        out.assign(data, size);
    }
    // The runtime moves the file pointer to the end before each write of an append stream.
    if ((it->second.flags & _O_APPEND) || stream->append) lseek(file->fd, 0, SEEK_END);
    DWORD written = 0;
    if (!WriteFile(it->second.file, out.data(), static_cast<DWORD>(out.size()), &written, nullptr)) {
        stream->failed = true;
        return host::WithErrno(EIO, -1);
    }
    return static_cast<ssize_t>(size);
}

int DescriptorClose(void* cookie)
{
    auto* stream = static_cast<DescriptorStream*>(cookie);
    int rc = _close(stream->fd);
    delete stream;
    CurrentMachine().HandleClosed("stream");
    return rc;
}

}  // namespace
}  // namespace host

int _open_osfhandle(intptr_t osfhandle, int flags)
{
    host::Machine& m = host::CurrentMachine();
    LAYER_ENTER_ERRNO(-1, EMFILE);
    HANDLE handle = reinterpret_cast<HANDLE>(osfhandle);
    if (!host::CurrentMachine().FindKernelObject<host::FileObject>(handle, "file")) return host::WithErrno(EBADF, -1);
    int fd = host::FIRST_FREE_DESCRIPTOR;
    while (m.descriptors.count(fd)) ++fd;
    m.descriptors[fd] = host::Descriptor{handle, flags};
    host::CurrentMachine().HandleOpened("descriptor");
    return fd;
}

int _close(int fd)
{
    host::Machine& m = host::CurrentMachine();
    LAYER_ENTER_ERRNO(-1, EIO);
    auto it = m.descriptors.find(fd);
    if (it == m.descriptors.end()) {
        ++m.invalidCloses;
        return host::WithErrno(EBADF, -1);
    }
    HANDLE handle = it->second.file;
    m.descriptors.erase(it);
    host::CurrentMachine().HandleClosed("descriptor");
    if (!CloseHandle(handle)) return host::WithErrno(EBADF, -1);
    return 0;
}

FILE* _wfdopen(int fd, const WCHAR* mode)
{
    host::Machine& m = host::CurrentMachine();
    LAYER_ENTER_ERRNO(nullptr, EMFILE);
    if (!mode) return host::WithErrno(EINVAL, nullptr);
    if (!m.descriptors.count(fd)) return host::WithErrno(EBADF, nullptr);
    if (mode[0] != u'w' && mode[0] != u'a') {
        if (mode[0] == u'r') host::Machine::Unsimulated("_wfdopen", "reading streams");
        return host::WithErrno(EINVAL, nullptr);
    }
    for (const WCHAR* c = mode + 1; *c; ++c)
        if (*c == u'+') host::Machine::Unsimulated("_wfdopen", "update streams");

    auto* stream = new host::DescriptorStream{fd, mode[0] == u'a'};
    cookie_io_functions_t io = {nullptr, host::DescriptorWrite, nullptr, host::DescriptorClose};  // write only
    FILE* wrapped = fopencookie(stream, "wb", io);
    if (!wrapped) {
        delete stream;
        return host::WithErrno(ENOMEM, nullptr);
    }
    setvbuf(wrapped, nullptr, _IONBF, 0);
    host::CurrentMachine().HandleOpened("stream");
    return wrapped;
}

// ---------------------------------------------------------------------------------------
// Formatting

namespace {

class Output {
public:
    Output(WCHAR* buffer, size_t count) : buffer_(buffer), count_(count) {}
    void Put(char16_t c)
    {
        if (written_ < count_) buffer_[written_] = c;
        ++written_;
    }
    void Put(const std::u16string& s)
    {
        for (char16_t c : s) Put(c);
    }
    size_t Written() const { return written_; }

private:
    WCHAR* buffer_;
    size_t count_;
    size_t written_ = 0;
};

struct Spec {
    bool left = false, plus = false, space = false, alt = false, zero = false;
    int width = 0;
    int precision = -1;
};

void Pad(Output& out, const std::u16string& body, const Spec& spec, bool numeric)
{
    int fill = spec.width - static_cast<int>(body.size());
    if (spec.left) {
        out.Put(body);
        for (int i = 0; i < fill; ++i) out.Put(u' ');
        return;
    }
    if (numeric && spec.zero && spec.precision < 0 && fill > 0) {
        // Zeros go between the sign or prefix and the digits.
        size_t lead = 0;
        if (!body.empty() && (body[0] == u'-' || body[0] == u'+' || body[0] == u' ')) lead = 1;
        if (body.size() >= lead + 2 && body[lead] == u'0' && (body[lead + 1] == u'x' || body[lead + 1] == u'X'))
            lead += 2;
        out.Put(body.substr(0, lead));
        for (int i = 0; i < fill; ++i) out.Put(u'0');
        out.Put(body.substr(lead));
        return;
    }
    for (int i = 0; i < fill; ++i) out.Put(u' ');
    out.Put(body);
}

std::u16string Digits(unsigned long long value, unsigned base, bool upper, int precision)
{
    const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::u16string digits;
    while (value) {
        digits.insert(digits.begin(), static_cast<char16_t>(set[value % base]));
        value /= base;
    }
    int minimum = precision < 0 ? 1 : precision;
    while (static_cast<int>(digits.size()) < minimum) digits.insert(digits.begin(), u'0');
    return digits;
}

}  // namespace

int _vsnwprintf(WCHAR* buffer, size_t count, const WCHAR* format, va_list args)
{
    if (!format) return -1;
    Output out(buffer, count);
    va_list ap;
    va_copy(ap, args);
    for (const WCHAR* f = format; *f; ++f) {
        if (*f != u'%') {
            out.Put(*f);
            continue;
        }
        ++f;
        if (*f == u'%') {
            out.Put(u'%');
            continue;
        }
        Spec spec;
        for (;; ++f) {
            if (*f == u'-')
                spec.left = true;
            else if (*f == u'+')
                spec.plus = true;
            else if (*f == u' ')
                spec.space = true;
            else if (*f == u'#')
                spec.alt = true;
            else if (*f == u'0')
                spec.zero = true;
            else
                break;
        }
        if (*f == u'*') {
            spec.width = va_arg(ap, int);
            if (spec.width < 0) {
                spec.left = true;
                spec.width = -spec.width;
            }
            ++f;
        } else {
            while (*f >= u'0' && *f <= u'9') spec.width = spec.width * 10 + (*f++ - u'0');
        }
        if (*f == u'.') {
            ++f;
            spec.precision = 0;
            if (*f == u'*') {
                spec.precision = va_arg(ap, int);
                ++f;
            } else
                while (*f >= u'0' && *f <= u'9') spec.precision = spec.precision * 10 + (*f++ - u'0');
        }
        // Size prefixes: h, l, ll, I32, I64, I (pointer-sized: 32 bits in the shipped build).
        int size = 0;  // -1 short/narrow, 0 default, 1 long/wide, 2 64-bit
        if (*f == u'h') {
            size = -1;
            ++f;
            if (*f == u'h') ++f;
        } else if (*f == u'l') {
            size = 1;
            ++f;
            if (*f == u'l') {
                size = 2;
                ++f;
            }
        } else if (*f == u'w') {
            size = 1;
            ++f;
        } else if (*f == u'L' || *f == u'q' || *f == u'j') {
            size = 2;
            ++f;
        } else if (*f == u'z' || *f == u't') {
            size = 0;
            ++f;
        } else if (*f == u'I') {
            ++f;
            if (f[0] == u'6' && f[1] == u'4') {
                size = 2;
                f += 2;
            } else if (f[0] == u'3' && f[1] == u'2') {
                size = 0;
                f += 2;
            }
        }
        if (!*f) break;
        switch (*f) {
        case u'd':
        case u'i': {
            long long v = size == 2 ? va_arg(ap, long long) : static_cast<long long>(va_arg(ap, int));
            if (size == -1) v = static_cast<short>(v);
            unsigned long long magnitude =
                v < 0 ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
            std::u16string body = Digits(magnitude, 10, false, spec.precision);
            if (spec.precision == 0 && v == 0) body.clear();
            if (v < 0)
                body.insert(body.begin(), u'-');
            else if (spec.plus)
                body.insert(body.begin(), u'+');
            else if (spec.space)
                body.insert(body.begin(), u' ');
            Pad(out, body, spec, true);
            break;
        }
        case u'u':
        case u'x':
        case u'X':
        case u'o': {
            unsigned long long v =
                size == 2 ? va_arg(ap, unsigned long long) : static_cast<unsigned long long>(va_arg(ap, unsigned int));
            if (size == -1) v = static_cast<unsigned short>(v);
            unsigned base = *f == u'u' ? 10 : (*f == u'o' ? 8 : 16);
            std::u16string body = Digits(v, base, *f == u'X', spec.precision);
            if (spec.precision == 0 && v == 0) body.clear();
            if (spec.alt && v != 0 && base == 16) body.insert(0, *f == u'X' ? u"0X" : u"0x");
            if (spec.alt && base == 8 && (body.empty() || body[0] != u'0')) body.insert(body.begin(), u'0');
            Pad(out, body, spec, true);
            break;
        }
        case u'p': {
            // Upper-case digits, two per byte of a pointer of the process the machine runs:
            // eight in a 32-bit process (the shipped build), sixteen in a 64-bit one.
            const int POINTER_DIGITS_32 = 8, POINTER_DIGITS_64 = 16;
            auto v = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(va_arg(ap, void*)));
            bool wide = host::CurrentMachine().windows64 && host::CurrentMachine().process64;
            if (!wide) v = static_cast<uint32_t>(v);
            Pad(out, Digits(v, 16, true, wide ? POINTER_DIGITS_64 : POINTER_DIGITS_32), spec, false);
            break;
        }
        case u'c':
        case u'C': {
            int v = va_arg(ap, int);
            bool narrow = (*f == u'C') ? size != 1 : size == -1;
            char16_t c = narrow ? static_cast<char16_t>(static_cast<unsigned char>(v)) : static_cast<char16_t>(v);
            Pad(out, std::u16string(1, c), spec, false);
            break;
        }
        case u's':
        case u'S': {
            bool narrow = (*f == u'S') ? size != 1 : size == -1;
            std::u16string body;
            if (narrow) {
                const char* s = va_arg(ap, const char*);
                if (!s) s = "(null)";
                for (; *s; ++s) body.push_back(static_cast<char16_t>(static_cast<unsigned char>(*s)));
            } else {
                const WCHAR* s = va_arg(ap, const WCHAR*);
                body = s ? std::u16string(s) : std::u16string(u"(null)");
            }
            if (spec.precision >= 0 && body.size() > static_cast<size_t>(spec.precision)) body.resize(spec.precision);
            Pad(out, body, spec, false);
            break;
        }
        default:
            // Unknown conversions are copied as they stand.
            out.Put(u'%');
            out.Put(*f);
            break;
        }
    }
    va_end(ap);
    size_t written = out.Written();
    if (written < count) {
        buffer[written] = 0;
        return static_cast<int>(written);
    }
    return written == count ? static_cast<int>(count) : -1;
}

int _snwprintf(WCHAR* buffer, size_t count, const WCHAR* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = _vsnwprintf(buffer, count, format, args);
    va_end(args);
    return n;
}
