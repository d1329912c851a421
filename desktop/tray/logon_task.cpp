#include "tray/logon_task.h"

#include "framework/strutils.h"

namespace om {

namespace {

std::u16string Widen(const char* ascii) {
  std::u16string s;
  while (*ascii) s += static_cast<char16_t>(static_cast<unsigned char>(*ascii++));
  return s;
}

// Elements of the template: tag (with attributes), text, nesting level. A null
// text opens a container, a text starting with '/' closes one.
struct TElement {
  int Level;
  const char* Open;
  const char* Text;  // nullptr: container start; "" container end
};

const TElement kElements[] = {
    {0, "Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\"", nullptr},
    {1, "RegistrationInfo", nullptr},
    {2, "Date", "2007-01-01T00:00:00"},
    {2, "Author", "%UserDomain%\\%UserName%"},
    {1, "RegistrationInfo", ""},
    {1, "Triggers", nullptr},
    {2, "LogonTrigger id=\"947151e5-b9ed-438b-8a4e-8207fcd151d1\"", nullptr},
    {3, "Enabled", "true"},
    {2, "LogonTrigger", ""},
    {1, "Triggers", ""},
    {1, "Principals", nullptr},
    {2, "Principal id=\"Author\"", nullptr},
    {3, "GroupId", "S-1-5-32-544"},
    {3, "RunLevel", "HighestAvailable"},
    {2, "Principal", ""},
    {1, "Principals", ""},
    {1, "Settings", nullptr},
    {2, "IdleSettings", nullptr},
    {3, "Duration", "PT10M"},
    {3, "WaitTimeout", "PT1H"},
    {3, "StopOnIdleEnd", "true"},
    {3, "RestartOnIdle", "false"},
    {2, "IdleSettings", ""},
    {2, "MultipleInstancesPolicy", "Parallel"},
    {2, "DisallowStartIfOnBatteries", "false"},
    {2, "StopIfGoingOnBatteries", "false"},
    {2, "AllowHardTerminate", "false"},
    {2, "StartWhenAvailable", "false"},
    {2, "RunOnlyIfNetworkAvailable", "false"},
    {2, "AllowStartOnDemand", "true"},
    {2, "Enabled", "true"},
    {2, "Hidden", "false"},
    {2, "RunOnlyIfIdle", "false"},
    {2, "WakeToRun", "false"},
    {2, "ExecutionTimeLimit", "PT0S"},
    {2, "Priority", "4"},
    {1, "Settings", ""},
    {1, "Actions Context=\"Author\"", nullptr},
    {2, "Exec", nullptr},
    {3, "Command", "\"%InstallFolder%\\%AppName%\""},
    {3, "Arguments", "-min"},
    {3, "WorkingDirectory", "%InstallFolder%"},
    {2, "Exec", ""},
    {1, "Actions", ""},
    {0, "Task", ""},
};

std::string TagName(const char* open) {
  std::string s = open;
  size_t blank = s.find(' ');
  return blank == std::string::npos ? s : s.substr(0, blank);
}

std::u16string EscapeXml(const std::u16string& value) {
  std::u16string out;
  for (char16_t c : value) {
    if (c == u'&')
      out += u"&amp;";
    else if (c == u'<')
      out += u"&lt;";
    else if (c == u'>')
      out += u"&gt;";
    else
      out += c;
  }
  return out;
}

}  // namespace

std::u16string TaskTemplate() {
  std::string t = "<?xml version=\"1.0\" encoding=\"UTF-16\"?>";
  for (const TElement& e : kElements) {
    t += std::string(static_cast<size_t>(e.Level) * 2, ' ');
    if (!e.Text)
      t += "<" + std::string(e.Open) + ">";
    else if (!*e.Text)
      t += "</" + TagName(e.Open) + ">";
    else
      t += "<" + std::string(e.Open) + ">" + e.Text + "</" + TagName(e.Open) + ">";
  }
  return Widen(t.c_str());
}

std::u16string ReplaceAllW(const std::u16string& text, const std::u16string& find, const std::u16string& replacement) {
  if (find.empty()) return text;
  std::u16string out = text;
  size_t from = 0;
  for (;;) {
    size_t p = out.find(find, from);
    if (p == std::u16string::npos) return out;
    out.replace(p, find.size(), replacement);
    from = p + replacement.size();
  }
}

std::u16string BuildTaskDefinition(const std::u16string& installFolder, const std::u16string& appName,
                                   const std::u16string& userDomain, const std::u16string& userName) {
  std::u16string text = u"\xFEFF" + TaskTemplate();
  text = ReplaceAllW(text, u"%InstallFolder%", EscapeXml(installFolder));
  text = ReplaceAllW(text, u"%AppName%", EscapeXml(appName));
  text = ReplaceAllW(text, u"%UserDomain%", EscapeXml(userDomain));
  text = ReplaceAllW(text, u"%UserName%", EscapeXml(userName));
  return text;
}

std::string Utf16LeBytes(const std::u16string& text) {
  std::string bytes;
  bytes.reserve(text.size() * 2);
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>((c >> 8) & 0xFF);
  }
  return bytes;
}

std::string GetTaskName(const std::vector<std::string>& args, const std::string& brandLongName) {
  std::string name = args.size() > 3 ? args[3] : std::string();
  if (name.empty() || SameText(name, "-RunTask")) return brandLongName;
  return name;
}

std::string CreateTaskParameters(const std::string& xmlPath, const std::string& taskName) {
  return "/create /xml \"" + xmlPath + "\" /tn \"" + taskName + "\" /f";
}

std::string RunTaskParameters(const std::string& taskName) { return "/run /tn \"" + taskName + "\""; }

std::string DeleteTaskParameters(const std::string& taskName) { return "/delete /tn \"" + taskName + "\" /f"; }

}  // namespace om
