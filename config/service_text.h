// Small pieces shared by the configuration and distribution actions: the trimming rule of
// request fields and the defaults of section "KVO.Net" that no fixed path covers.
#pragma once

#include <string>
#include <string_view>

namespace kvo::config {

// Removes blanks and control characters (bytes up to 0x20) from both ends.
std::string TrimControls(std::string_view text);

// Defaults of the "KVO.Net" keys that name places of the suite's own network.
inline constexpr const char* kDefaultUrlBase = "http://app.kvonet.com.br/kvo.net";
inline constexpr const char* kDefaultUrlUpdate = "http://update.kvonet.com.br/kvo.net.kvoupdate/";
inline constexpr const char* kDefaultSupportDatabase =
    "192.168.254.10:C:\\KVO\\KVO.Net\\Dados\\Suporte.fdb";
inline constexpr const char* kDefaultRdpServer = "200.155.20.30";

}  // namespace kvo::config
