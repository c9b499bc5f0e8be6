#include "Options.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include <unistd.h>

namespace vantrel::smbfs {

namespace {

bool parseNumber(const char* text, unsigned long max, unsigned long& out)
{
    if (!text || !*text)
        return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (errno || *end || value > max || text[0] == '-')
        return false;
    out = value;
    return true;
}

} // namespace

bool parseSource(const std::string& source, Options& options)
{
    if (source.size() < 3 || source.compare(0, 2, "//") != 0)
        return false;
    const std::string rest = source.substr(2);
    const auto slash = rest.find('/');
    if (slash == std::string::npos || slash == 0)
        return false;
    std::string hostPort = rest.substr(0, slash);
    std::string path = rest.substr(slash + 1);
    const auto colon = hostPort.rfind(':');
    options.port = 0;
    if (colon != std::string::npos && hostPort.find(']') == std::string::npos) {
        unsigned long port = 0;
        if (!parseNumber(hostPort.c_str() + colon + 1, 65535, port) || port == 0)
            return false;
        options.port = static_cast<unsigned short>(port);
        hostPort.resize(colon);
    }
    if (hostPort.empty())
        return false;
    options.host = hostPort;
    while (!path.empty() && path.back() == '/')
        path.pop_back();
    const auto shareEnd = path.find('/');
    options.share = path.substr(0, shareEnd);
    options.folder = shareEnd == std::string::npos ? std::string() : path.substr(shareEnd);
    if (options.share.empty() || options.folder.find("//") != std::string::npos)
        return false;
    options.source = source;
    return true;
}

bool parseOptions(int argc, char** argv, Options& options, std::string& error)
{
    options.uid = ::getuid();
    options.gid = ::getgid();
    int i = 1;
    for (; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                error = std::string(name) + " needs a value";
                return nullptr;
            }
            return argv[++i];
        };
        unsigned long number = 0;
        if (arg == "--") {
            ++i;
            break;
        } else if (arg == "--check") {
            options.check = true;
        } else if (arg == "--credentials-stdin") {
            options.credentialsStdin = true;
        } else if (arg == "--read-only") {
            options.readOnly = true;
        } else if (arg == "--encrypt") {
            options.encrypt = true;
        } else if (arg == "--foreground") {
            options.foreground = true;
        } else if (arg == "--timeout" || arg == "--uid" || arg == "--gid") {
            const char* text = value(arg.c_str());
            if (!text)
                return false;
            const unsigned long max = arg == "--timeout" ? 3600 : 0xFFFFFFFEul;
            if (!parseNumber(text, max, number) || (arg == "--timeout" && number == 0)) {
                error = "invalid value for " + arg + ": " + text;
                return false;
            }
            if (arg == "--timeout")
                options.timeoutSeconds = static_cast<int>(number);
            else if (arg == "--uid")
                options.uid = static_cast<unsigned>(number);
            else
                options.gid = static_cast<unsigned>(number);
        } else if (arg == "--control") {
            const char* text = value("--control");
            if (!text)
                return false;
            options.control = text;
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown option " + arg;
            return false;
        } else {
            break;
        }
    }
    const int wanted = options.check ? 1 : 2;
    if (argc - i != wanted) {
        error = options.check ? "usage: vantrel-smbfs --check [options] -- //HOST[:PORT]/SHARE[/FOLDER]"
                              : "usage: vantrel-smbfs [options] -- //HOST[:PORT]/SHARE[/FOLDER] MOUNTPOINT";
        return false;
    }
    if (!parseSource(argv[i], options)) {
        error = std::string("not a share address of the form //HOST[:PORT]/SHARE[/FOLDER]: ") + argv[i];
        return false;
    }
    if (!options.check)
        options.mountPoint = argv[i + 1];
    return true;
}

Credentials parseCredentials(const std::string& text)
{
    Credentials credentials;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const auto eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = line.substr(0, eq);
        const std::string value = line.substr(eq + 1);
        if (key == "user")
            credentials.user = value;
        else if (key == "domain")
            credentials.domain = value;
        else if (key == "password")
            credentials.password = value;
    }
    return credentials;
}

std::string sha256Hex(const std::string& data)
{
    static constexpr std::array<uint32_t, 64> k = {0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b,
        0x59f111f1, 0x923f82a4, 0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
        0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc,
        0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
        0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1,
        0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116, 0x1e376c08,
        0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3, 0x748f82ee, 0x78a5636f, 0x84c87814,
        0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};
    std::array<uint32_t, 8> h = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab,
        0x5be0cd19};
    std::string message = data;
    const uint64_t bits = static_cast<uint64_t>(data.size()) * 8;
    message += static_cast<char>(0x80);
    while (message.size() % 64 != 56)
        message += '\0';
    for (int shift = 56; shift >= 0; shift -= 8)
        message += static_cast<char>((bits >> shift) & 0xff);
    auto rotr = [](uint32_t x, int n) { return (x >> n) | (x << (32 - n)); };
    for (size_t block = 0; block < message.size(); block += 64) {
        std::array<uint32_t, 64> w{};
        for (int t = 0; t < 16; ++t) {
            const auto* p = reinterpret_cast<const unsigned char*>(message.data() + block + 4 * t);
            w[t] = (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
        }
        for (int t = 16; t < 64; ++t) {
            const uint32_t s0 = rotr(w[t - 15], 7) ^ rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
            const uint32_t s1 = rotr(w[t - 2], 17) ^ rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
            w[t] = w[t - 16] + s0 + w[t - 7] + s1;
        }
        auto v = h;
        for (int t = 0; t < 64; ++t) {
            const uint32_t s1 = rotr(v[4], 6) ^ rotr(v[4], 11) ^ rotr(v[4], 25);
            const uint32_t ch = (v[4] & v[5]) ^ (~v[4] & v[6]);
            const uint32_t t1 = v[7] + s1 + ch + k[t] + w[t];
            const uint32_t s0 = rotr(v[0], 2) ^ rotr(v[0], 13) ^ rotr(v[0], 22);
            const uint32_t maj = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
            const uint32_t t2 = s0 + maj;
            v = {t1 + t2, v[0], v[1], v[2], v[3] + t1, v[4], v[5], v[6]};
        }
        for (int j = 0; j < 8; ++j)
            h[j] += v[j];
    }
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (uint32_t word : h)
        for (int shift = 28; shift >= 0; shift -= 4)
            out += digits[(word >> shift) & 0xf];
    return out;
}

std::string defaultControlPath(const std::string& canonicalMountPoint)
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string folder = runtime && *runtime ? std::string(runtime) + "/vantrel"
                                                   : "/tmp/vantrel-" + std::to_string(::getuid());
    return folder + "/smbfs-" + sha256Hex(canonicalMountPoint).substr(0, 16) + ".sock";
}

} // namespace vantrel::smbfs
