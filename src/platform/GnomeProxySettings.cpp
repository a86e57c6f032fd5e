// org.gnome.system.proxy through GIO's GSettings, loaded at run time: the control must load on
// machines without GIO, and reading a schema that is not installed would abort the process, so
// every schema is looked up before it is opened.
#include <dlfcn.h>

#include "diag/DebugLog.h"
#include "platform/ProxyConfig.h"

namespace vantrel {
namespace {

struct TGio {
  void* (*SchemaSourceGetDefault)();
  void* (*SchemaSourceLookup)(void*, const char*, int);
  void (*SchemaUnref)(void*);
  void* (*SettingsNew)(const char*);
  char* (*GetString)(void*, const char*);
  int (*GetInt)(void*, const char*);
  char** (*GetStrv)(void*, const char*);
  void (*Free)(void*);
  void (*Strfreev)(char**);
  void (*ObjectUnref)(void*);
};

template <class F>
bool Bind(void* prmLib, const char* prmName, F& prmFn) {
  prmFn = reinterpret_cast<F>(dlsym(prmLib, prmName));
  return prmFn != nullptr;
}

// GLib's type system cannot be unloaded, so the library stays loaded once found.
const TGio* LoadGio() {
  void* lib = dlopen("libgio-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
  if (!lib) return nullptr;
  static TGio gio;
  if (Bind(lib, "g_settings_schema_source_get_default", gio.SchemaSourceGetDefault) &&
      Bind(lib, "g_settings_schema_source_lookup", gio.SchemaSourceLookup) &&
      Bind(lib, "g_settings_schema_unref", gio.SchemaUnref) &&
      Bind(lib, "g_settings_new", gio.SettingsNew) &&
      Bind(lib, "g_settings_get_string", gio.GetString) &&
      Bind(lib, "g_settings_get_int", gio.GetInt) &&
      Bind(lib, "g_settings_get_strv", gio.GetStrv) && Bind(lib, "g_free", gio.Free) &&
      Bind(lib, "g_strfreev", gio.Strfreev) && Bind(lib, "g_object_unref", gio.ObjectUnref))
    return &gio;
  WriteDebugLog("ReadGnomeProxySettings - GIO lacks the GSettings calls");
  return nullptr;
}

const TGio* Gio() {
  static const TGio* gio = LoadGio();
  return gio;
}

bool HasSchema(const TGio& prmGio, const char* prmId) {
  void* source = prmGio.SchemaSourceGetDefault();
  if (!source) return false;
  void* schema = prmGio.SchemaSourceLookup(source, prmId, 1);
  if (!schema) return false;
  prmGio.SchemaUnref(schema);
  return true;
}

// One schema's settings object, released when it goes.
class TSettings {
 public:
  TSettings(const TGio& prmGio, const char* prmId) : m_Gio(prmGio) {
    if (HasSchema(prmGio, prmId)) m_Obj = prmGio.SettingsNew(prmId);
  }
  ~TSettings() {
    if (m_Obj) m_Gio.ObjectUnref(m_Obj);
  }
  TSettings(const TSettings&) = delete;
  TSettings& operator=(const TSettings&) = delete;
  explicit operator bool() const { return m_Obj != nullptr; }

  std::string String(const char* prmKey) const {
    char* v = m_Gio.GetString(m_Obj, prmKey);
    std::string out = v ? v : "";
    m_Gio.Free(v);
    return out;
  }
  int Int(const char* prmKey) const { return m_Gio.GetInt(m_Obj, prmKey); }
  std::vector<std::string> Strings(const char* prmKey) const {
    std::vector<std::string> out;
    char** v = m_Gio.GetStrv(m_Obj, prmKey);
    for (char** p = v; p && *p; ++p) out.emplace_back(*p);
    m_Gio.Strfreev(v);
    return out;
  }

 private:
  const TGio& m_Gio;
  void* m_Obj = nullptr;
};

}  // namespace

bool ReadGnomeProxySettings(TGnomeProxySettings& prmOut) {
  const TGio* gio = Gio();
  if (!gio) return false;
  TSettings proxy(*gio, "org.gnome.system.proxy");
  TSettings http(*gio, "org.gnome.system.proxy.http");
  TSettings https(*gio, "org.gnome.system.proxy.https");
  if (!proxy || !http || !https) return false;
  prmOut.Mode = proxy.String("mode");
  prmOut.AutoConfigUrl = proxy.String("autoconfig-url");
  prmOut.IgnoreHosts = proxy.Strings("ignore-hosts");
  prmOut.HttpHost = http.String("host");
  prmOut.HttpPort = http.Int("port");
  prmOut.HttpsHost = https.String("host");
  prmOut.HttpsPort = https.Int("port");
  return true;
}

}  // namespace vantrel
