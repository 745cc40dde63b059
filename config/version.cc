// /versaokvo and its siblings: the version text of a client executable, or of a named file.
#include "config/actions.h"
#include "configfiles/paths.h"
#include "configfiles/profile_file.h"
#include "helpers/helpers.h"
#include "platform/pe_version.h"

namespace kvo::config {

namespace {

struct Lookup {
  const char* section;
  const char* key;
  const char* defaultPath;
};

Lookup LookupOf(VersionSource source) {
  switch (source) {
    case VersionSource::Kvo:
      return {"KVO.Net", "Executavel", kDesktopExecutable};
    case VersionSource::Mobile:
      return {"KVO.Mobile", "Executavel", ""};
    case VersionSource::MobileUpdate:
      return {"KVO.Mobile", "ExecutavelUpdate", ""};
    case VersionSource::Cd:
      return {"KVO.CD", "Executavel", ""};
    case VersionSource::CdUpdate:
      return {"KVO.CD", "ExecutavelUpdate", ""};
    case VersionSource::Arquivo:
      break;
  }
  return {nullptr, nullptr, nullptr};
}

}  // namespace

void VersionAction(cgi::TWebRequest& request, cgi::TWebResponse& response, VersionSource source) {
  std::string path;
  if (source == VersionSource::Arquivo) {
    path = request.QueryFields().Value("f");
  } else {
    const Lookup lookup = LookupOf(source);
    path = TProfileFile(helpers::ChooseConfigFile(request))
               .ReadText(lookup.section, lookup.key, lookup.defaultPath);
  }
  response.SetContent(path.empty() ? std::string() : platform::FileVersionText(path));
}

}  // namespace kvo::config
