#include "platform/profile.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/text.h"

namespace port {
namespace {

std::string Trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return std::string();
  const size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// "[name]" gives name; anything else gives false.
bool SectionName(const std::string& line, std::string* name) {
  const std::string t = Trim(line);
  if (t.size() < 2 || t.front() != '[') return false;
  const size_t close = t.find(']');
  if (close == std::string::npos) return false;
  *name = Trim(t.substr(1, close - 1));
  return true;
}

bool KeyValue(const std::string& line, std::string* key, std::string* value) {
  const std::string t = Trim(line);
  if (t.empty() || t[0] == ';') return false;
  const size_t eq = t.find('=');
  if (eq == std::string::npos) return false;
  *key = Trim(t.substr(0, eq));
  *value = Trim(t.substr(eq + 1));
  return true;
}

}  // namespace

std::string GetProfileString(const std::string& path, const std::string& section,
                             const std::string& key, const std::string& default_value) {
  bool in_section = false;
  std::string name, k, v;
  for (const std::string& line : ReadLines(path)) {
    if (SectionName(line, &name)) {
      in_section = EqualsNoCase(name, section);
    } else if (in_section && KeyValue(line, &k, &v) && EqualsNoCase(k, key)) {
      return v;
    }
  }
  return default_value;
}

long GetProfileInt(const std::string& path, const std::string& section, const std::string& key,
                   long default_value) {
  const std::string v = GetProfileString(path, section, key, std::string());
  char* end = nullptr;
  const long n = std::strtol(v.c_str(), &end, 10);
  return end == v.c_str() ? default_value : n;
}

bool WriteProfileString(const std::string& path, const std::string& section, const std::string& key,
                        const std::string& value) {
  std::vector<std::string> lines = ReadLines(path);
  const std::string entry = key + "=" + value;
  bool in_section = false;
  size_t section_end = lines.size();
  bool found_section = false;
  std::string name, k, v;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (SectionName(lines[i], &name)) {
      if (in_section) {
        section_end = i;
        break;
      }
      in_section = EqualsNoCase(name, section);
      found_section = found_section || in_section;
    } else if (in_section && KeyValue(lines[i], &k, &v) && EqualsNoCase(k, key)) {
      lines[i] = entry;
      section_end = lines.size() + 1;  // replaced in place
      break;
    }
  }
  if (section_end <= lines.size()) {
    if (found_section) {
      // Insert after the section's last non-blank line.
      size_t at = section_end;
      while (at > 0 && Trim(lines[at - 1]).empty()) --at;
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), entry);
    } else {
      lines.push_back("[" + section + "]");
      lines.push_back(entry);
    }
  }
  std::ostringstream out;
  for (const std::string& line : lines) out << line << "\r\n";
  const std::string tmp = path + ".tmp";
  {
    std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
    if (!(f << out.str()) || !f.flush()) return false;
  }
  return std::rename(tmp.c_str(), path.c_str()) == 0;
}

}  // namespace port
