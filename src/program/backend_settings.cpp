// The backend settings are read once at start and every value is checked there: a plant engineer's typing
// mistake in a port or a topic prefix must stop the start with a message that points at the line to fix,
// not turn into a panel that quietly talks to the wrong broker or to no one. So the entries of [Mqtt] are
// checked even when the embedded backend is chosen, and [Runtime] Backend even when the command line
// overrides it.
#include "program/backend_settings.h"

#include <arpa/inet.h>

#include <charconv>
#include <filesystem>
#include <fstream>

#include "adapters/web/loopback.h"
#include "core/text.h"
#include "core/vb_error.h"
#include "service/file_names.h"
#include "service/ini_file.h"

namespace orvanta {
namespace {

// A value as the error message shows it: in double quotes, a NUL byte written as \0 so the message stays
// one readable line.
std::string quoted(std::string_view value) {
    std::string text = "\"";
    for (const char c : value) {
        if (c == '\0') {
            text += "\\0";
        } else {
            text += c;
        }
    }
    return text + "\"";
}

class SettingsReader {
public:
    explicit SettingsReader(std::string file) : file_(std::move(file)) {}

    // The entry's value, or `fallback` when the entry is missing or empty.
    std::string text(std::string_view section, std::string_view entry, std::string fallback) const {
        std::optional<std::string> value = findIniValue(file_, section, entry);
        return value && !value->empty() ? std::move(*value) : std::move(fallback);
    }

    int wholeNumber(std::string_view section, std::string_view entry, int fallback, int low, int high,
                    std::string_view what) const {
        const std::optional<std::string> value = findIniValue(file_, section, entry);
        if (!value || value->empty()) return fallback;
        long long number = 0;
        const char* end = value->data() + value->size();
        const auto [last, error] = std::from_chars(value->data(), end, number);
        if (error != std::errc() || last != end || number < low || number > high)
            fail(section, entry, *value,
                 "is not " + std::string(what) + " (" + std::to_string(low) + ".." + std::to_string(high) +
                     ")");
        return static_cast<int>(number);
    }

    [[noreturn]] void fail(std::string_view section, std::string_view entry, std::string_view value,
                           const std::string& problem) const {
        throw VbError(kInvalidCall,
                      file_ + " [" + std::string(section) + "] " + std::string(entry) + ": " + quoted(value) +
                          " " + problem,
                      "Orvanta");
    }

private:
    std::string file_;
};

bool isValidTopicPrefix(std::string_view prefix) {
    return prefix.find_first_of(std::string_view("+#\0", 3)) == std::string_view::npos &&
           !prefix.starts_with('/') && !prefix.ends_with('/');
}

// The first limit bytes of file, or nothing when it cannot be read.
std::optional<std::string> fileHead(const std::string& file, std::size_t limit) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text(limit, '\0');
    in.read(text.data(), static_cast<std::streamsize>(limit));
    if (!in && !in.eof()) return std::nullopt;
    text.resize(static_cast<std::size_t>(in.gcount()));
    return text;
}

// A file an entry names: a relative name lies beside the INI file, and plants come from Windows, where the
// name may be spelt in another case.
std::string besideIni(const std::string& iniFile, const std::string& name) {
    std::filesystem::path path(name);
    if (path.is_relative()) path = std::filesystem::path(iniFile).parent_path() / path;
    return findFileIgnoringCase(path.string());
}

// Why the CA file cannot serve TLS, or nothing. Checked here, where the message can name the entry: the
// client library would only say "Invalid function arguments provided" or "A TLS error occurred".
std::optional<std::string> caFileProblem(const std::string& file) {
    std::error_code error;
    const auto status = std::filesystem::status(file, error);
    if (!std::filesystem::exists(status)) return "names a file that does not exist (" + file + ")";
    if (!std::filesystem::is_regular_file(status)) return "is not a file (" + file + ")";
    // A CA bundle is a few hundred KiB at most; what lies beyond this is not looked at.
    const std::optional<std::string> text = fileHead(file, 4 << 20);
    if (!text) return "names a file that cannot be read (" + file + ")";
    const auto begin = text->find("-----BEGIN CERTIFICATE-----");
    if (begin == std::string::npos || text->find("-----END CERTIFICATE-----", begin) == std::string::npos)
        return "names a file without a PEM certificate (" + file + ")";
    return std::nullopt;
}

// Why the file cannot serve as the page's PEM certificate or key (marker tells which), or nothing.
std::optional<std::string> pemFileProblem(const std::string& file, std::string_view marker) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) return "names no file (" + file + ")";
    const std::optional<std::string> text = fileHead(file, 1 << 20);  // a chain or a key is a few KiB
    if (!text) return "names a file that cannot be read (" + file + ")";
    if (text->find("-----BEGIN ") == std::string::npos || text->find(marker) == std::string::npos)
        return "names a file without a PEM " + std::string(marker) + " (" + file + ")";
    return std::nullopt;
}

// A token travels in a cookie and a query: letters, digits and - . _ ~ only, and long enough not to be
// guessed.
constexpr std::size_t kShortestToken = 16;
bool isTokenText(std::string_view token) {
    return token.size() >= kShortestToken && token.find_first_not_of(
                                                 "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                                 "0123456789-._~") == std::string_view::npos;
}

WebSettings webSettings(const SettingsReader& ini, const std::string& file) {
    WebSettings web;
    const std::string listen = ini.text("Web", "Listen", "");
    if (listen.empty()) return web;
    web.enabled = true;
    const auto colon = listen.rfind(':');
    std::string host = colon == std::string::npos ? "" : listen.substr(0, colon);
    // An IPv6 address in brackets, so that its last group is not taken for the port.
    const bool bracketed = host.size() >= 2 && host.front() == '[' && host.back() == ']';
    if (bracketed) host = host.substr(1, host.size() - 2);
    const std::string port = colon == std::string::npos ? "" : listen.substr(colon + 1);
    int number = -1;
    const auto [last, error] = std::from_chars(port.data(), port.data() + port.size(), number);
    in6_addr any6{};
    in_addr any4{};
    const bool literal = host == "localhost" || inet_pton(AF_INET, host.c_str(), &any4) == 1 ||
                         (bracketed && inet_pton(AF_INET6, host.c_str(), &any6) == 1);
    if (!literal || port.empty() || error != std::errc() || last != port.data() + port.size() || number < 0 ||
        number > 65535)
        ini.fail("Web", "Listen", listen,
                 "is not ADDRESS:PORT (an IP address of this computer, [::1] for IPv6, and a port 0..65535; "
                 "for example 127.0.0.1:8080)");
    web.address = host;
    web.port = number;

    web.token = ini.text("Web", "Token", "");
    if (!web.token.empty() && !isTokenText(web.token))
        ini.fail("Web", "Token", "(not shown)",
                 "is not a token: at least 16 characters, only letters, digits and - . _ ~");
    if (web.token.empty() && !web::isLoopback(web.address))
        ini.fail("Web", "Listen", listen,
                 "is not on the loopback: anyone on the network could open the page; set [Web] Token (and "
                 "Certificate and Key for HTTPS), or listen on 127.0.0.1");

    const std::string certificate = ini.text("Web", "Certificate", "");
    const std::string key = ini.text("Web", "Key", "");
    if (certificate.empty() != key.empty())
        ini.fail("Web", certificate.empty() ? "Certificate" : "Key", "",
                 "is missing: HTTPS needs both Certificate and Key");
    if (!certificate.empty()) {
        web.certificateFile = besideIni(file, certificate);
        if (const auto problem = pemFileProblem(web.certificateFile, "CERTIFICATE"))
            ini.fail("Web", "Certificate", certificate, *problem);
        web.keyFile = besideIni(file, key);
        if (const auto problem = pemFileProblem(web.keyFile, "PRIVATE KEY"))
            ini.fail("Web", "Key", key, *problem);
    }
    return web;
}

std::optional<bool> switchValue(std::string_view value) {
    for (const char* on : {"1", "yes", "on", "true"})
        if (equalsIgnoringAsciiCase(value, on)) return true;
    for (const char* off : {"0", "no", "off", "false"})
        if (equalsIgnoringAsciiCase(value, off)) return false;
    return std::nullopt;
}

}  // namespace

std::optional<BackendKind> backendKindNamed(std::string_view name) {
    if (equalsIgnoringAsciiCase(name, "embedded")) return BackendKind::Embedded;
    if (equalsIgnoringAsciiCase(name, "mqtt")) return BackendKind::Mqtt;
    return std::nullopt;
}

BackendSettings loadBackendSettings(const std::string& iniFile, std::optional<BackendKind> override) {
    // The spelling found on disk, so that messages and the folder of a relative CaFile match what is there.
    const std::string file = findFileIgnoringCase(iniFile);
    const SettingsReader ini(file);
    BackendSettings settings;

    const std::string backend = ini.text("Runtime", "Backend", "embedded");
    const std::optional<BackendKind> named = backendKindNamed(backend);
    if (!named) ini.fail("Runtime", "Backend", backend, "is not a backend (embedded or mqtt)");
    settings.kind = override.value_or(*named);

    MqttSettings& mqtt = settings.mqtt;
    mqtt.host = ini.text("Mqtt", "Host", mqtt.host);
    mqtt.port = ini.wholeNumber("Mqtt", "Port", mqtt.port, 1, 65535, "a port number");
    mqtt.clientId = ini.text("Mqtt", "ClientId", "");
    mqtt.username = ini.text("Mqtt", "Username", "");
    mqtt.password = ini.text("Mqtt", "Password", "");
    mqtt.topicPrefix = ini.text("Mqtt", "TopicPrefix", mqtt.topicPrefix);
    if (!isValidTopicPrefix(mqtt.topicPrefix))
        ini.fail("Mqtt", "TopicPrefix", mqtt.topicPrefix,
                 "is not a topic prefix (no '+', '#' or NUL, no '/' at the start or the end)");
    mqtt.keepAlive =
        std::chrono::seconds(ini.wholeNumber("Mqtt", "KeepAlive", 10, 5, 65535, "a whole number of seconds"));
    mqtt.startTimeout = std::chrono::seconds(
        ini.wholeNumber("Mqtt", "StartTimeout", 10, 1, 3600, "a whole number of seconds"));

    const std::string caFile = ini.text("Mqtt", "CaFile", "");
    if (!caFile.empty()) {
        mqtt.caFile = besideIni(file, caFile);
        if (const std::optional<std::string> problem = caFileProblem(mqtt.caFile))
            ini.fail("Mqtt", "CaFile", caFile, *problem);
    }

    HistorySettings& history = settings.history;
    const std::string enabled = ini.text("History", "Enabled", "1");
    if (const std::optional<bool> on = switchValue(enabled))
        history.enabled = *on;
    else
        ini.fail("History", "Enabled", enabled,
                 "is not a switch (1 or 0, yes or no, on or off, true or false)");
    history.file = ini.text("History", "File", history.file);
    history.retentionDays = ini.wholeNumber("History", "RetentionDays", history.retentionDays, 0, 36500,
                                            "a whole number of days, 0 for ever");
    settings.web = webSettings(ini, file);
    return settings;
}

}  // namespace orvanta
