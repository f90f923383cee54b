#include "platform/sys/portal_save_dialog.h"

#include <dbus/dbus.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <vector>

namespace vt::sys {
namespace {

constexpr char kPortalName[] = "org.freedesktop.portal.Desktop";
constexpr char kPortalPath[] = "/org/freedesktop/portal/desktop";
constexpr char kFileChooser[] = "org.freedesktop.portal.FileChooser";
constexpr char kRequest[] = "org.freedesktop.portal.Request";
// SaveFile only opens the dialog and answers at once; the user's choice comes later as a signal.
constexpr int kCallTimeoutMs = 30000;

struct ConnectionCloser {
  void operator()(DBusConnection* connection) const {
    dbus_connection_close(connection);
    dbus_connection_unref(connection);
  }
};
using Connection = std::unique_ptr<DBusConnection, ConnectionCloser>;

struct MessageUnref {
  void operator()(DBusMessage* message) const { dbus_message_unref(message); }
};
using Message = std::unique_ptr<DBusMessage, MessageUnref>;

class Error {
 public:
  Error() { dbus_error_init(&error_); }
  ~Error() { dbus_error_free(&error_); }
  Error(const Error&) = delete;
  Error& operator=(const Error&) = delete;
  DBusError* get() { return &error_; }
  bool is_set() const { return dbus_error_is_set(&error_); }

 private:
  DBusError error_;
};

// The session bus, if there is one. libdbus's own lookup would launch a new bus for the X display
// when none is announced, and leave it running; without a bus there is no portal anyway.
std::string SessionBusAddress() {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address && *address) return address;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (!runtime || !*runtime) return {};
  const std::string socket = std::string(runtime) + "/bus";
  struct stat st {};
  if (::stat(socket.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) return {};
  char* escaped = dbus_address_escape_value(socket.c_str());
  if (!escaped) return {};
  std::string result = std::string("unix:path=") + escaped;
  dbus_free(escaped);
  return result;
}

Connection ConnectToSessionBus() {
  const std::string address = SessionBusAddress();
  if (address.empty()) return nullptr;
  Error error;
  Connection connection(dbus_connection_open_private(address.c_str(), error.get()));
  if (!connection) return nullptr;
  // The default would end the whole program when the bus goes away.
  dbus_connection_set_exit_on_disconnect(connection.get(), FALSE);
  if (!dbus_bus_register(connection.get(), error.get())) return nullptr;
  return connection;
}

bool AddMatch(DBusConnection* connection, const std::string& rule) {
  Error error;
  dbus_bus_add_match(connection, rule.c_str(), error.get());
  return !error.is_set();
}

std::string ResponseRule(const std::string& handle) {
  return std::string("type='signal',interface='") + kRequest + "',member='Response',path='" +
         handle + "'";
}

std::string NewToken() {
  static std::atomic<unsigned> counter{0};
  return "voxtape_" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
}

// The portal puts the request object at .../request/<our unique name, ':' dropped, '.' ->
// '_'>/<token>.
std::string ExpectedHandle(std::string sender, const std::string& token) {
  if (!sender.empty() && sender.front() == ':') sender.erase(0, 1);
  std::replace(sender.begin(), sender.end(), '.', '_');
  return std::string(kPortalPath) + "/request/" + sender + "/" + token;
}

bool AppendVariant(DBusMessageIter* dict, const char* key, int type, const void* value,
                   const char* signature) {
  DBusMessageIter entry, variant;
  return dbus_message_iter_open_container(dict, DBUS_TYPE_DICT_ENTRY, nullptr, &entry) &&
         dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &key) &&
         dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, signature, &variant) &&
         dbus_message_iter_append_basic(&variant, type, value) &&
         dbus_message_iter_close_container(&entry, &variant) &&
         dbus_message_iter_close_container(dict, &entry);
}

// One filter: (sa(us)), a name and its one glob.
bool AppendFilter(DBusMessageIter* container, const SaveFileFilter& filter) {
  const char* name = filter.name.c_str();
  const char* pattern = filter.pattern.c_str();
  const dbus_uint32_t kGlob = 0;
  DBusMessageIter entry, rules, rule;
  return dbus_message_iter_open_container(container, DBUS_TYPE_STRUCT, nullptr, &entry) &&
         dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &name) &&
         dbus_message_iter_open_container(&entry, DBUS_TYPE_ARRAY, "(us)", &rules) &&
         dbus_message_iter_open_container(&rules, DBUS_TYPE_STRUCT, nullptr, &rule) &&
         dbus_message_iter_append_basic(&rule, DBUS_TYPE_UINT32, &kGlob) &&
         dbus_message_iter_append_basic(&rule, DBUS_TYPE_STRING, &pattern) &&
         dbus_message_iter_close_container(&rules, &rule) &&
         dbus_message_iter_close_container(&entry, &rules) &&
         dbus_message_iter_close_container(container, &entry);
}

// filters: a(sa(us)), the file types in the order given.
bool AppendFilters(DBusMessageIter* dict, const std::vector<SaveFileFilter>& filters) {
  const char* key = "filters";
  DBusMessageIter entry, variant, list;
  if (!dbus_message_iter_open_container(dict, DBUS_TYPE_DICT_ENTRY, nullptr, &entry) ||
      !dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &key) ||
      !dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, "a(sa(us))", &variant) ||
      !dbus_message_iter_open_container(&variant, DBUS_TYPE_ARRAY, "(sa(us))", &list)) {
    return false;
  }
  for (const SaveFileFilter& filter : filters)
    if (!AppendFilter(&list, filter)) return false;
  return dbus_message_iter_close_container(&variant, &list) &&
         dbus_message_iter_close_container(&entry, &variant) &&
         dbus_message_iter_close_container(dict, &entry);
}

Message SaveFileCall(const std::string& title, unsigned long parent_xid,
                     const std::vector<SaveFileFilter>& filters, const std::string& token) {
  Message call(dbus_message_new_method_call(kPortalName, kPortalPath, kFileChooser, "SaveFile"));
  if (!call) return nullptr;
  // The portal's way to name the window the dialog belongs to: "x11:" and the id in hex.
  char parent_text[32] = "";
  if (parent_xid != 0) std::snprintf(parent_text, sizeof parent_text, "x11:%lx", parent_xid);
  const char* parent_window = parent_text;
  const char* title_text = title.c_str();
  const char* token_text = token.c_str();
  const dbus_bool_t modal = TRUE;
  DBusMessageIter args, options;
  dbus_message_iter_init_append(call.get(), &args);
  const bool ok = dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &parent_window) &&
                  dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &title_text) &&
                  dbus_message_iter_open_container(&args, DBUS_TYPE_ARRAY, "{sv}", &options) &&
                  AppendVariant(&options, "handle_token", DBUS_TYPE_STRING, &token_text, "s") &&
                  AppendVariant(&options, "modal", DBUS_TYPE_BOOLEAN, &modal, "b") &&
                  (filters.empty() || AppendFilters(&options, filters)) &&
                  dbus_message_iter_close_container(&args, &options);
  if (!ok) return nullptr;
  return call;
}

// The first of the "uris" in a Response's results, and the name of the "current_filter": the file
// type the user left chosen.
struct ResponseResults {
  std::string uri;
  std::string filter_name;
};

ResponseResults ReadResults(DBusMessageIter* results) {
  ResponseResults read;
  if (dbus_message_iter_get_arg_type(results) != DBUS_TYPE_ARRAY) return read;
  DBusMessageIter entries;
  dbus_message_iter_recurse(results, &entries);
  for (; dbus_message_iter_get_arg_type(&entries) == DBUS_TYPE_DICT_ENTRY;
       dbus_message_iter_next(&entries)) {
    DBusMessageIter entry, variant, inner;
    dbus_message_iter_recurse(&entries, &entry);
    if (dbus_message_iter_get_arg_type(&entry) != DBUS_TYPE_STRING) continue;
    const char* key = nullptr;
    dbus_message_iter_get_basic(&entry, &key);
    if (!dbus_message_iter_next(&entry) ||
        dbus_message_iter_get_arg_type(&entry) != DBUS_TYPE_VARIANT) {
      continue;
    }
    dbus_message_iter_recurse(&entry, &variant);
    const std::string_view name = key;
    if (name == "uris" && dbus_message_iter_get_arg_type(&variant) == DBUS_TYPE_ARRAY) {
      dbus_message_iter_recurse(&variant, &inner);
      if (dbus_message_iter_get_arg_type(&inner) != DBUS_TYPE_STRING) continue;
      const char* uri = nullptr;
      dbus_message_iter_get_basic(&inner, &uri);
      read.uri = uri;
    } else if (name == "current_filter" &&
               dbus_message_iter_get_arg_type(&variant) == DBUS_TYPE_STRUCT) {
      dbus_message_iter_recurse(&variant, &inner);
      if (dbus_message_iter_get_arg_type(&inner) != DBUS_TYPE_STRING) continue;
      const char* filter = nullptr;
      dbus_message_iter_get_basic(&inner, &filter);
      read.filter_name = filter;
    }
  }
  return read;
}

PortalResult ReadResponse(DBusMessage* response, const std::vector<SaveFileFilter>& filters,
                          SaveFileChoice* choice) {
  DBusMessageIter args;
  if (!dbus_message_iter_init(response, &args) ||
      dbus_message_iter_get_arg_type(&args) != DBUS_TYPE_UINT32) {
    return PortalResult::kNoPortal;
  }
  dbus_uint32_t code = 0;
  dbus_message_iter_get_basic(&args, &code);
  // 1: the user cancelled; 2: the dialog was ended some other way. Either way the user saw it.
  if (code != 0) return PortalResult::kCancelled;
  if (!dbus_message_iter_next(&args)) return PortalResult::kNoPortal;
  const ResponseResults results = ReadResults(&args);
  SaveFileChoice chosen;
  if (!FileUriToPath(results.uri, &chosen.path)) return PortalResult::kNoPortal;
  for (std::size_t i = 0; i < filters.size(); ++i)
    if (filters[i].name == results.filter_name) chosen.filter = static_cast<int>(i);
  *choice = std::move(chosen);
  return PortalResult::kChosen;
}

// True when the portal that took our call has left the bus.
bool PortalLeft(DBusMessage* message, const std::string& portal_owner) {
  const char* name = nullptr;
  const char* old_owner = nullptr;
  const char* new_owner = nullptr;
  Error error;
  if (!dbus_message_get_args(message, error.get(), DBUS_TYPE_STRING, &name, DBUS_TYPE_STRING,
                             &old_owner, DBUS_TYPE_STRING, &new_owner, DBUS_TYPE_INVALID)) {
    return false;
  }
  return std::string_view(name) == kPortalName && portal_owner == old_owner &&
         portal_owner != new_owner;
}

PortalResult WaitForResponse(DBusConnection* connection, const std::string& portal_owner,
                             const std::vector<std::string>& handles,
                             const std::vector<SaveFileFilter>& filters, SaveFileChoice* choice) {
  for (;;) {
    Message message(dbus_connection_pop_message(connection));
    if (!message) {
      if (!dbus_connection_read_write(connection, -1)) return PortalResult::kNoPortal;
      continue;
    }
    DBusMessage* m = message.get();
    if (dbus_message_is_signal(m, DBUS_INTERFACE_LOCAL, "Disconnected")) {
      return PortalResult::kNoPortal;
    }
    const char* sender = dbus_message_get_sender(m);
    if (!sender) continue;
    if (dbus_message_is_signal(m, DBUS_INTERFACE_DBUS, "NameOwnerChanged") &&
        std::string_view(sender) == DBUS_SERVICE_DBUS) {
      if (PortalLeft(m, portal_owner)) return PortalResult::kNoPortal;
      continue;
    }
    const char* object = dbus_message_get_path(m);
    if (dbus_message_is_signal(m, kRequest, "Response") && portal_owner == sender && object &&
        std::find(handles.begin(), handles.end(), object) != handles.end()) {
      return ReadResponse(m, filters, choice);
    }
  }
}

PortalResult Choose(const std::string& title, unsigned long parent_xid,
                    const std::vector<SaveFileFilter>& filters, SaveFileChoice* choice) {
  if (!dbus_validate_utf8(title.c_str(), nullptr)) return PortalResult::kNoPortal;
  for (const SaveFileFilter& filter : filters) {
    if (!dbus_validate_utf8(filter.name.c_str(), nullptr) ||
        !dbus_validate_utf8(filter.pattern.c_str(), nullptr)) {
      return PortalResult::kNoPortal;
    }
  }
  Connection bus = ConnectToSessionBus();
  if (!bus) return PortalResult::kNoPortal;
  DBusConnection* connection = bus.get();

  // Watch the portal's name before asking whether it runs, so its leaving is never missed.
  if (!AddMatch(connection, std::string("type='signal',sender='") + DBUS_SERVICE_DBUS +
                                "',interface='" + DBUS_INTERFACE_DBUS +
                                "',member='NameOwnerChanged',arg0='" + kPortalName + "'")) {
    return PortalResult::kNoPortal;
  }
  Error error;
  if (!dbus_bus_name_has_owner(connection, kPortalName, error.get())) {
    return PortalResult::kNoPortal;
  }

  // The answer may come before SaveFile's reply is read: listen on the request object first.
  const char* unique_name = dbus_bus_get_unique_name(connection);
  if (!unique_name) return PortalResult::kNoPortal;
  const std::string token = NewToken();
  std::vector<std::string> handles{ExpectedHandle(unique_name, token)};
  if (!AddMatch(connection, ResponseRule(handles.front()))) return PortalResult::kNoPortal;

  Message call = SaveFileCall(title, parent_xid, filters, token);
  if (!call) return PortalResult::kNoPortal;
  // An error here (no file chooser behind the portal, the portal gone) leaves other dialogs.
  Message reply(dbus_connection_send_with_reply_and_block(connection, call.get(), kCallTimeoutMs,
                                                          error.get()));
  if (!reply) return PortalResult::kNoPortal;
  const char* handle = nullptr;
  if (!dbus_message_get_args(reply.get(), error.get(), DBUS_TYPE_OBJECT_PATH, &handle,
                             DBUS_TYPE_INVALID)) {
    return PortalResult::kNoPortal;
  }
  const char* portal_owner = dbus_message_get_sender(reply.get());
  if (!portal_owner) return PortalResult::kNoPortal;
  // Older portals choose the request object themselves.
  if (handles.front() != handle) {
    handles.emplace_back(handle);
    if (!AddMatch(connection, ResponseRule(handles.back()))) return PortalResult::kNoPortal;
  }
  return WaitForResponse(connection, portal_owner, handles, filters, choice);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool FileUriToPath(const std::string& uri, std::string* path) {
  constexpr std::string_view kScheme = "file://";
  constexpr std::string_view kLocalhost = "localhost";
  if (uri.size() < kScheme.size()) return false;
  for (std::size_t i = 0; i < kScheme.size(); ++i) {
    const char c = uri[i];
    if ((c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c) != kScheme[i]) return false;
  }
  std::string_view rest = std::string_view(uri).substr(kScheme.size());
  if (rest.starts_with(kLocalhost)) rest.remove_prefix(kLocalhost.size());
  // Anything else before the path names another machine.
  if (rest.empty() || rest.front() != '/' || rest.find('#') != std::string_view::npos) {
    return false;
  }
  std::string decoded;
  decoded.reserve(rest.size());
  for (std::size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] != '%') {
      decoded += rest[i];
      continue;
    }
    if (i + 2 >= rest.size()) return false;
    const int high = HexValue(rest[i + 1]);
    const int low = HexValue(rest[i + 2]);
    if (high < 0 || low < 0) return false;
    const char c = static_cast<char>(high * 16 + low);
    // A NUL would cut the name short; an escaped '/' would change which folder it is in.
    if (c == '\0' || c == '/') return false;
    decoded += c;
    i += 2;
  }
  *path = std::move(decoded);
  return true;
}

PortalResult ChooseSaveFileWithPortal(const std::string& title, unsigned long parent_window,
                                      const std::vector<SaveFileFilter>& filters,
                                      SaveFileChoice* choice) {
  try {
    return Choose(title, parent_window, filters, choice);
  } catch (...) {
    return PortalResult::kNoPortal;
  }
}

}  // namespace vt::sys
