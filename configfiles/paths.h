// The fixed Windows paths of the installation.
#pragma once

namespace kvo::config {

inline constexpr const char* kExtranetConfig = "C:\\KVO\\KVO.Net\\Config\\KVO.Extranet.Config";
inline constexpr const char* kIntranetConfig = "C:\\KVO\\KVO.Net\\Config\\KVO.Intranet.Config";
inline constexpr const char* kModuleListFile = "C:\\KVO\\KVO.Net\\Config\\KVO.LM";
inline constexpr const char* kModuleRoot =
    "C:\\KVO\\KVO.Net\\M\xF3"
    "dulos";
inline constexpr const char* kDesktopExecutable = "C:\\KVO\\KVO.Net\\Bin\\kvo.exe";
inline constexpr const char* kRdpToolList = "C:\\KVO\\KVO.Net\\Config\\RDP.Modules";
inline constexpr const char* kClientSettings = "C:\\KVO\\Bin\\KVO.ini";
inline constexpr const char* kStatementLog = "C:\\KVO\\KVO.Net\\Logs\\Log.txt";
inline constexpr const char* kStatementLogFolder = "C:\\KVO\\KVO.Net\\Logs\\";
// Any change to this file makes every process of the host drop its kept attachments (fb/keeper.h).
inline constexpr const char* kKeptAttachmentsDropFile =
    "C:\\KVO\\KVO.Net\\Logs\\KeptAttachments.Drop";
// Attaches of credentials a process has not seen succeed take one of these locked files
// (<prefix>.<i>.lck, fb/keeper.h).
inline constexpr const char* kLoginSlotPrefix = "C:\\KVO\\KVO.Net\\Logs\\Login";
inline constexpr const char* kExportFile = "C:\\tabela.txt";
inline constexpr const char* kTrafficFile = "C:\\KVO\\KVO.Net\\WebServers\\trafego.xml";

}  // namespace kvo::config
