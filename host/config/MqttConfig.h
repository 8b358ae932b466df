// How `vemox-host run` reaches an MQTT broker and what it lets the broker do: the [mqtt]
// section of the configuration file, with the defaults and limits of publishing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

namespace vemox::host {

constexpr int kMqttPort = 1883;
constexpr int kMqttTlsPort = 8883;
constexpr int kMqttDefaultQos = 1;
constexpr std::int64_t kMqttDefaultHeartbeatS = 60;
constexpr std::int64_t kMqttMaxHeartbeatS = 86400;
constexpr int kMqttKeepAliveS = 30;
// A broker that cannot be reached is tried again after 1 s, then after twice as long each
// time, up to 30 s; polling the line goes on meanwhile.
constexpr std::int64_t kMqttFirstRetryMs = 1000;
constexpr std::int64_t kMqttLongestRetryMs = 30000;
// The controllers' link figures are read this often for <prefix>/<node>/$health; they change
// with every exchange, so this is also how often an active controller's figures go out.
constexpr std::int64_t kMqttHealthPeriodMs = 1000;
// Writes asked for faster than the line takes them wait at most this many; more are dropped.
constexpr std::size_t kMqttMaxWaitingMessages = 64;
// No value the controllers take needs more; a longer payload is malformed.
constexpr std::size_t kMqttMaxSetPayload = 256;

struct MqttConfig {
    std::string url; // as written, to name the broker in messages
    std::string host;
    int port = kMqttPort;
    bool tls = false;     // mqtts://
    std::string clientId; // empty: the broker assigns one
    std::string topicPrefix = "vemox";
    int qos = kMqttDefaultQos; // 0 or 1
    bool retain = true;        // item values stay on the broker for late subscribers
    std::string username;
    std::string passwordFile; // the password is its first line, never in the configuration
    std::string caFile;       // empty with TLS: the system's certificate authorities
    std::string certFile;     // a client certificate, with keyFile
    std::string keyFile;
    std::int64_t heartbeatS = kMqttDefaultHeartbeatS; // 0: every finished read is published
    std::vector<std::string> writable;                // NODE.ITEM; nothing is writable by default

    // Whether a reload must connect the gateway again.
    bool operator==(const MqttConfig& other) const {
        return std::tie(url, host, port, tls, clientId, topicPrefix, qos, retain, username,
                        passwordFile, caFile, certFile, keyFile, heartbeatS, writable) ==
               std::tie(other.url, other.host, other.port, other.tls, other.clientId,
                        other.topicPrefix, other.qos, other.retain, other.username,
                        other.passwordFile, other.caFile, other.certFile, other.keyFile,
                        other.heartbeatS, other.writable);
    }
    bool operator!=(const MqttConfig& other) const { return !(*this == other); }
};

} // namespace vemox::host
