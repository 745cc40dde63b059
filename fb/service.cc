// The services manager: users of the server's security database.
//
// Our texts are Windows-1252. The services manager takes names and passwords as UTF-8 when the
// attachment says so (and refuses non-ASCII bytes otherwise), and answers in UTF-8 then.
#include <cstring>

#include "fb/fb_impl.h"
#include "platform/codepage.h"

namespace kvo::fb {

using api::Status;

struct ServiceManager::Impl {
  api::Ref<api::IService> service;

  api::IService* Get() const {
    if (!service) throw Error("The services manager is not attached");
    return service.get();
  }

  void Start(api::ParamBlock& spb) {
    try {
      Status status;
      Get()->start(&status, spb.length(), spb.data());
    } catch (const Error& e) {
      throw InOurCodePage(e);
    }
  }

  // The services manager speaks UTF-8 to us (user names in its messages included).
  static Error InOurCodePage(const Error& e) {
    return Error(platform::Utf8ToCp1252(e.what()), e.codes());
  }

  // Queries `item` until the server has nothing more; the failures of a started request
  // surface here. Returns the concatenated contents.
  std::string Drain(unsigned char item) {
    std::string all;
    // The wire carries the buffer's length in 16 bits: 64 KB would arrive as none at all.
    std::vector<unsigned char> buf(32 * 1024);
    for (;;) {
      unsigned char receive[] = {item};
      Status status;
      Get()->query(&status, 0, nullptr, sizeof receive, receive, static_cast<unsigned>(buf.size()),
                   buf.data());
      size_t pos = 0;
      size_t got = 0;
      bool more = false;
      while (pos < buf.size() && buf[pos] != isc_info_end) {
        unsigned char tag = buf[pos++];
        if (tag == isc_info_truncated || tag == isc_info_svc_timeout) {
          more = true;
          continue;
        }
        if (pos + 2 > buf.size()) break;
        size_t len = buf[pos] | (buf[pos + 1] << 8);
        pos += 2;
        if (pos + len > buf.size()) len = buf.size() - pos;
        if (tag == item) {
          all.append(reinterpret_cast<const char*>(buf.data() + pos), len);
          got += len;
        }
        pos += len;
      }
      if (got == 0 && !more) return all;
    }
  }
};

ServiceManager::ServiceManager(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
ServiceManager::ServiceManager(ServiceManager&&) noexcept = default;
ServiceManager& ServiceManager::operator=(ServiceManager&& other) noexcept {
  if (this != &other) {
    ServiceManager old(std::move(*this));
    impl_ = std::move(other.impl_);
  }
  return *this;
}

ServiceManager::~ServiceManager() {
  try {
    Detach();
  } catch (...) {
  }
}

ServiceManager ServiceManager::Open(std::string_view service, std::string_view user,
                                    std::string_view password, bool serverOnly) {
  for (std::string_view text : {service, user, password}) api::RequireNoNul(text);
  api::RequireLoginUserName(user);
  api::ParamBlock spb(api::IXpbBuilder::SPB_ATTACH);
  spb.String(isc_spb_user_name, platform::Cp1252ToUtf8(user));
  spb.String(isc_spb_password, platform::Cp1252ToUtf8(password));
  spb.Tag(isc_spb_utf8_filename);
  if (serverOnly || ServerAttachRequired()) spb.String(isc_spb_config, api::kServerOnlyConfig);
  auto impl = std::make_unique<Impl>();
  std::string name = platform::Cp1252ToUtf8(service);
  try {
    api::KeepProcessSignals signals;
    Status status;
    impl->service.reset(
        api::Provider()->attachServiceManager(&status, name.c_str(), spb.length(), spb.data()));
  } catch (const Error& e) {
    throw Impl::InOurCodePage(e);
  }
  return ServiceManager(std::move(impl));
}

std::vector<UserRecord> ServiceManager::DisplayUsers() {
  api::ParamBlock spb(api::IXpbBuilder::SPB_START);
  spb.Tag(isc_action_svc_display_user_adm);
  impl_->Start(spb);
  std::string data = impl_->Drain(isc_info_svc_get_users);

  std::vector<UserRecord> users;
  size_t pos = 0;
  while (pos < data.size()) {
    unsigned char tag = static_cast<unsigned char>(data[pos++]);
    auto text = [&]() {
      if (pos + 2 > data.size()) throw Error("Malformed user list from the services manager");
      size_t len =
          static_cast<unsigned char>(data[pos]) | (static_cast<unsigned char>(data[pos + 1]) << 8);
      pos += 2;
      if (pos + len > data.size()) throw Error("Malformed user list from the services manager");
      std::string_view v(data.data() + pos, len);
      pos += len;
      return platform::Utf8ToCp1252(v);
    };
    auto number = [&]() {
      if (pos + 4 > data.size()) throw Error("Malformed user list from the services manager");
      uint32_t v = 0;
      for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(data[pos + i]);
      pos += 4;
      return static_cast<int>(v);
    };
    switch (tag) {
      case isc_spb_sec_username:
        users.emplace_back();
        users.back().userName = text();
        break;
      case isc_spb_sec_firstname:
      case isc_spb_sec_middlename:
      case isc_spb_sec_lastname: {
        std::string v = text();
        if (users.empty()) break;
        UserRecord& u = users.back();
        (tag == isc_spb_sec_firstname    ? u.firstName
         : tag == isc_spb_sec_middlename ? u.middleName
                                         : u.lastName) = v;
        break;
      }
      case isc_spb_sec_groupname:
      case isc_spb_sec_password:
        text();
        break;
      case isc_spb_sec_userid:
      case isc_spb_sec_groupid:
      case isc_spb_sec_admin: {
        int v = number();
        if (users.empty() || tag == isc_spb_sec_admin) break;
        (tag == isc_spb_sec_userid ? users.back().userId : users.back().groupId) = v;
        break;
      }
      default:
        throw Error("Unexpected item " + std::to_string(tag) +
                    " in the user list from the services manager");
    }
  }
  return users;
}

void ServiceManager::AddUser(std::string_view userName, std::string_view password, int userId,
                             int groupId) {
  api::ParamBlock spb(api::IXpbBuilder::SPB_START);
  spb.Tag(isc_action_svc_add_user);
  api::RequireRecordFields(userName, password);
  spb.String(isc_spb_sec_username, platform::Cp1252ToUtf8(userName));
  spb.Int(isc_spb_sec_userid, userId);
  spb.Int(isc_spb_sec_groupid, groupId);
  if (!password.empty()) spb.String(isc_spb_sec_password, platform::Cp1252ToUtf8(password));
  impl_->Start(spb);
  impl_->Drain(isc_info_svc_line);
}

void ServiceManager::ModifyUser(std::string_view userName, std::string_view password) {
  api::ParamBlock spb(api::IXpbBuilder::SPB_START);
  spb.Tag(isc_action_svc_modify_user);
  api::RequireRecordFields(userName, password);
  spb.String(isc_spb_sec_username, platform::Cp1252ToUtf8(userName));
  if (!password.empty()) spb.String(isc_spb_sec_password, platform::Cp1252ToUtf8(password));
  impl_->Start(spb);
  impl_->Drain(isc_info_svc_line);
}

void ServiceManager::DeleteUser(std::string_view userName) {
  api::ParamBlock spb(api::IXpbBuilder::SPB_START);
  spb.Tag(isc_action_svc_delete_user);
  api::RequireRecordFields(userName);
  spb.String(isc_spb_sec_username, platform::Cp1252ToUtf8(userName));
  impl_->Start(spb);
  impl_->Drain(isc_info_svc_line);
}

void ServiceManager::Detach() {
  if (!impl_ || !impl_->service) return;
  Status status;
  try {
    impl_->service->detach(&status);
  } catch (...) {
    impl_->service.reset();
    throw;
  }
  (void)impl_->service.release();
}

}  // namespace kvo::fb
