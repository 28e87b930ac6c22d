#include "proxy/ProxyResponses.hpp"

#include <cmath>
#include <nlohmann/json.hpp>
#include <string>

namespace meterly::proxy {

namespace {

using Json = nlohmann::ordered_json;

constexpr std::string_view statusFallback = R"({"available":false})";
constexpr std::string_view badRequestBody =
    R"({"type":"error","error":{"type":"invalid_request_error","message":"Meterly proxy: malformed HTTP request"}})";
constexpr std::string_view gatewayFallback =
    R"({"type":"error","error":{"type":"api_error","message":"Meterly proxy: upstream unreachable"}})";

Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

CannedResponse jsonReply(std::int64_t code, std::string reason, std::string_view body,
                         bool closes) {
    HTTPHeaders headers;
    headers.append("Content-Type", "application/json");
    headers.append("Content-Length", std::to_string(body.size()));
    if (closes) {
        headers.append("Connection", "close");
    } else {
        headers.append("Cache-Control", "no-store");
    }
    return {HTTPResponseHead("HTTP/1.1", code, std::move(reason), std::move(headers)),
            bytesOf(body)};
}

// A number JSON can hold; the document is abandoned for the fallback otherwise.
struct Unrepresentable {};

double finite(double value) {
    if (!std::isfinite(value)) {
        throw Unrepresentable{};
    }
    return value;
}

Json windowObject(const core::LimitWindow& window) {
    Json object = Json::object();
    object["status"] = window.status;
    object["utilization"] = finite(window.utilization);
    object["resetAt"] = finite(window.resetAt);
    return object;
}

} // namespace

HTTPResponseHead ProxyResponses::healthCheck() {
    HTTPHeaders headers;
    headers.append("Content-Length", "0");
    headers.append("Cache-Control", "no-store");
    return HTTPResponseHead("HTTP/1.1", 200, "OK", std::move(headers));
}

std::string ProxyResponses::statusDocument(const std::optional<core::UsageSnapshot>& snapshot,
                                           std::int64_t requestsSeen,
                                           std::optional<core::Date> lastRequestAt) {
    try {
        Json document = Json::object();
        document["available"] = snapshot.has_value();
        document["requestsSeen"] = requestsSeen;
        if (lastRequestAt) {
            document["lastRequestAt"] = finite(*lastRequestAt);
        }
        if (snapshot) {
            document["capturedAt"] = finite(snapshot->capturedAt);
            if (snapshot->representativeClaim) {
                document["representativeClaim"] = *snapshot->representativeClaim;
            }
            if (snapshot->overageStatus) {
                document["overageStatus"] = *snapshot->overageStatus;
            }
            if (snapshot->fiveHour) {
                document["fiveHour"] = windowObject(*snapshot->fiveHour);
            }
            if (snapshot->sevenDay) {
                document["sevenDay"] = windowObject(*snapshot->sevenDay);
            }
        }
        // Texts that are not valid UTF-8 make dump() throw.
        return document.dump();
    } catch (const Unrepresentable&) {
        // A number JSON cannot hold: the fixed document below says as much as can be said.
    } catch (const Json::exception&) {
        // Text that is not UTF-8: the same.
    }
    return std::string(statusFallback);
}

CannedResponse ProxyResponses::status(const std::optional<core::UsageSnapshot>& snapshot,
                                      std::int64_t requestsSeen,
                                      std::optional<core::Date> lastRequestAt) {
    return jsonReply(200, "OK", statusDocument(snapshot, requestsSeen, lastRequestAt), false);
}

CannedResponse ProxyResponses::badRequest(ProxyFailure) {
    return jsonReply(400, "Bad Request", badRequestBody, true);
}

CannedResponse ProxyResponses::gatewayError(ProxyFailure failure, std::string_view upstreamHost) {
    std::string body;
    try {
        std::string message = "Meterly proxy could not reach ";
        message += upstreamHost;
        message += " (";
        message += failure.explanation();
        message += "). ";
        message += "Claude Code traffic is not being forwarded. Check that you are online, ";
        message += "or run `scripts/uninstall.sh` to remove ANTHROPIC_BASE_URL and go direct.";
        Json error = Json::object();
        error["type"] = "api_error";
        error["message"] = std::move(message);
        Json document = Json::object();
        document["type"] = "error";
        document["error"] = std::move(error);
        body = document.dump();
    } catch (const Json::exception&) {
        body = gatewayFallback;
    }
    bool timedOut = failure == ProxyFailure::timedOut;
    return jsonReply(timedOut ? 504 : 502, timedOut ? "Gateway Timeout" : "Bad Gateway", body,
                     true);
}

} // namespace meterly::proxy
