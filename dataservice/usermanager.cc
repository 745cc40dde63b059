// /usermanager: users of the database server's security database, through its services
// manager. Every failure answers "Erro: " and the message.
#include <exception>

#include "configfiles/paths.h"
#include "configfiles/text_lines.h"
#include "dataservice/actions.h"
#include "fb/fb.h"
#include "fb/keeper.h"
#include "platform/error.h"
#include "platform/winpath.h"

namespace kvo::dataservice {

namespace {

// The server on this machine, over loopback on the port the client's configuration names. The
// embedded services manager ("service_mgr" alone) would accept any password.
const char kLocalServices[] = "localhost:service_mgr";

const char kBadParameters[] =
    "in\xED"
    "cio de Par\xE2metros faltando ou incorreto";
const char kAdded[] = "Usu\xE1rio adicionado com \xEAxito ";
const char kChanged[] = "Usu\xE1rio modificado com \xEAxito ";
const char kDeleted[] =
    "Usu\xE1rio exclu\xED"
    "do com \xEAxito ";

void RequireUserName(const std::string& userName, bool noBlank) {
  if (userName.empty() || (noBlank && userName.find(' ') != std::string::npos))
    throw Error(kBadParameters);
  // The database server cannot keep a longer name, and sending one ends its process.
  if (!fb::UserNameFitsServer(userName))
    throw Error("O nome do usu\xE1rio n\xE3o pode passar de " +
                std::to_string(fb::kMaxUserNameBytes) + " bytes (em UTF-8)");
}

// What add and upd may write: a name holding CR, LF or another control character would list as
// several users, and a user with an empty password exists but can never log in. Deleting stays
// open to names written before these checks.
void RequireWritableUser(const std::string& userName, const std::string& password) {
  for (unsigned char c : userName)
    if (c < 0x20 || c == 0x7F)
      throw Error("O nome do usu\xE1rio n\xE3o pode conter caracteres de controle (como CR ou LF)");
  if (password.empty()) throw Error("A senha do usu\xE1rio n\xE3o pode ser vazia");
}

// A kept attachment of a login changed or deleted here would outlive the change: this process
// drops its own before the change, and when the change is over (whether it succeeded or not)
// every process of the host drops the ones it kept before; a signal sent before the change
// would miss an attach made between the two.
class DropKeptEverywhere {
 public:
  explicit DropKeptEverywhere(const char* operation) : operation_(operation) {
    fb::DropKeptAttachments();
  }
  ~DropKeptEverywhere() {
    try {
      const std::string file = platform::HostPath(config::kKeptAttachmentsDropFile).value_or("");
      fb::DropKeptAttachmentsEverywhere(file, std::string("usermanager ") + operation_);
    } catch (...) {
      // The other processes drop theirs at the end of their lifetime.
    }
  }
  DropKeptEverywhere(const DropKeptEverywhere&) = delete;
  DropKeptEverywhere& operator=(const DropKeptEverywhere&) = delete;

 private:
  const char* operation_;
};

}  // namespace

void UserManagerAction(cgi::TWebRequest& request, cgi::TWebResponse& response) {
  try {
    const cgi::FieldList& fields = request.ContentFields();
    std::string operation = fields.Value("o");
    fb::ServiceManager services =
        fb::ServiceManager::Open(kLocalServices, fields.Value("u"), fields.Value("p"));
    // Leaving this block by a failure detaches through the destructor before the answer is set.
    if (operation == "show") {
      config::TextLines names;
      for (const fb::UserRecord& user : services.DisplayUsers()) names.push_back(user.userName);
      response.SetContent(config::JoinLines(names));
    }
    if (operation == "add") {
      std::string userName = fields.Value("username");
      std::string password = fields.Value("password");
      RequireUserName(userName, true);
      RequireWritableUser(userName, password);
      const DropKeptEverywhere drop("add");
      services.AddUser(userName, password, 0, 0);
      response.SetContent(kAdded);
    }
    if (operation == "upd") {
      std::string userName = fields.Value("username");
      std::string password = fields.Value("password");
      RequireUserName(userName, false);
      RequireWritableUser(userName, password);
      const DropKeptEverywhere drop("upd");
      services.ModifyUser(userName, password);
      response.SetContent(kChanged);
    }
    if (operation == "del") {
      std::string userName = fields.Value("username");
      RequireUserName(userName, false);
      const DropKeptEverywhere drop("del");
      services.DeleteUser(userName);
      response.SetContent(kDeleted);
    }
    services.Detach();
  } catch (const std::exception& e) {
    response.SetFailureContent("Erro: " + MessageOf(e));
  }
}

}  // namespace kvo::dataservice
