// Reader of name=value files such as service.properties.
#pragma once
#include <string>
#include <vector>

namespace cpputil {

class Property {
 public:
  Property(const char* key, const char* value) : key(key), value(value) {}
  Property(const std::string& key, const std::string& value) : key(key), value(value) {}
  Property(const Property& other) = default;
  virtual ~Property() = default;
  std::string key;
  std::string value;
};

class Properties {
 public:
  Properties() = default;
  Properties(const Properties&) = delete;
  Properties& operator=(const Properties&) = delete;
  virtual ~Properties() = default;
  // 0 when the file was read, -1 when it cannot be opened.
  int load(const char* path);
  // The first property with exactly this key, or nullptr.
  const Property* find(const char* key) const;
  void add(const Property& property);
  const std::vector<Property>& all() const { return items; }

 private:
  std::vector<Property> items;
};

}  // namespace cpputil
