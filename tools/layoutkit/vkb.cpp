#include "layoutkit/vkb.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "layoutkit/codepage.h"
#include "layoutkit/text.h"
#include "shared/charset.h"
#include "shared/compositions.h"

namespace velto::layoutkit {

namespace {

struct Block {
  std::size_t size;
  void* (*at)(KeyboardDescription&);
};

// The five blocks in the order SetupKeyboard takes them.
const Block kBlocks[] = {
    {kOptionBlockSize, [](KeyboardDescription& d) -> void* { return &d.options; }},
    {kKeyTableSize, [](KeyboardDescription& d) -> void* { return &d.keys; }},
    {kLayoutRecordsSize, [](KeyboardDescription& d) -> void* { return d.layouts; }},
    {kDeadKeyTableSize, [](KeyboardDescription& d) -> void* { return &d.deadKeys; }},
    {kMacroTableSize, [](KeyboardDescription& d) -> void* { return &d.macros; }},
};

// File names are UTF-8. Windows' narrow file functions take them in the
// ANSI code page instead, so there a name that is UTF-8 beyond ASCII goes
// through the wide ones; any other is passed as it stands (a name from a
// program's narrow command line is in the ANSI code page already).
#ifdef _WIN32
bool WideName(const std::string& path, std::wstring& wide) {
  bool ascii = true;
  for (std::size_t pos = 0; pos < path.size();) {
    ascii = ascii && static_cast<unsigned char>(path[pos]) < 0x80;
    const char32_t c = NextUtf8(path, pos);
    if (c == 0xFFFD) return false;
    if (c >= 0x10000) {
      wide += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
      wide += static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      wide += static_cast<wchar_t>(c);
    }
  }
  return !ascii;
}
std::FILE* Open(const std::string& path, const wchar_t* wideMode, const char* mode) {
  std::wstring wide;
  return WideName(path, wide) ? _wfopen(wide.c_str(), wideMode) : std::fopen(path.c_str(), mode);
}
void Remove(const std::string& path) {
  std::wstring wide;
  WideName(path, wide) ? _wremove(wide.c_str()) : std::remove(path.c_str());
}
int Rename(const std::string& from, const std::string& to) {
  std::wstring wideFrom, wideTo;
  const bool wide = WideName(from, wideFrom) && WideName(to, wideTo);  // the two differ by ".tmp" only
  return wide ? _wrename(wideFrom.c_str(), wideTo.c_str()) : std::rename(from.c_str(), to.c_str());
}
#else
std::FILE* Open(const std::string& path, const wchar_t*, const char* mode) { return std::fopen(path.c_str(), mode); }
void Remove(const std::string& path) { std::remove(path.c_str()); }
int Rename(const std::string& from, const std::string& to) { return std::rename(from.c_str(), to.c_str()); }
#endif

}  // namespace

std::vector<std::uint8_t> ToVkb(const KeyboardDescription& d) {
  std::vector<std::uint8_t> out;
  out.reserve(kVkbSize);
  auto& source = const_cast<KeyboardDescription&>(d);  // read only
  for (const Block& b : kBlocks) {
    const auto* p = static_cast<const std::uint8_t*>(b.at(source));
    out.insert(out.end(), p, p + b.size);
  }
  out.insert(out.end(), d.compositions.begin(), d.compositions.end());
  return out;
}

bool FromVkb(const std::vector<std::uint8_t>& bytes, KeyboardDescription& out) {
  if (bytes.size() < kVkbSize) return false;
  // The composition table, if any, follows the blocks, whole.
  const std::size_t rest = bytes.size() - kVkbSize;
  if (rest != 0 && (rest < kCompositionsHeaderSize || CompositionsLength(bytes.data() + kVkbSize) != rest)) {
    return false;
  }
  std::size_t offset = 0;
  for (const Block& b : kBlocks) {
    std::memcpy(b.at(out), bytes.data() + offset, b.size);
    offset += b.size;
  }
  out.compositions.assign(bytes.begin() + static_cast<std::ptrdiff_t>(kVkbSize), bytes.end());
  return true;
}

bool ReadFile(const std::string& path, std::vector<std::uint8_t>& bytes, Diagnostics& diags) {
  std::FILE* f = Open(path, L"rb", "rb");
  if (f == nullptr) {
    diags.Error(path, 0, 0, std::string("cannot open: ") + std::strerror(errno));
    return false;
  }
  bytes.clear();
  std::uint8_t buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) diags.Error(path, 0, 0, "cannot read the file");
  return !failed;
}

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes, Diagnostics& diags) {
  const std::string temp = path + ".tmp";
  std::FILE* f = Open(temp, L"wb", "wb");
  if (f == nullptr) {
    diags.Error(path, 0, 0, std::string("cannot write: ") + std::strerror(errno));
    return false;
  }
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  const bool closed = std::fclose(f) == 0;
  if (!written || !closed) {
    Remove(temp);
    diags.Error(path, 0, 0, "cannot write the file");
    return false;
  }
#ifdef _WIN32
  Remove(path);  // rename does not replace a file there
#endif
  if (Rename(temp, path) != 0) {
    Remove(temp);
    diags.Error(path, 0, 0, std::string("cannot write: ") + std::strerror(errno));
    return false;
  }
  return true;
}

bool ReadVkb(const std::string& path, KeyboardDescription& out, Diagnostics& diags) {
  std::vector<std::uint8_t> bytes;
  diags.NoteFile(path);
  if (!ReadFile(path, bytes, diags)) return false;
  if (!FromVkb(bytes, out)) {
    diags.Error(path, 0, 0,
                "not a compiled keyboard description: it has " + std::to_string(bytes.size()) +
                    " bytes, a .vkb file has " + std::to_string(kVkbSize) +
                    ", followed by nothing or by a whole composition table");
    return false;
  }
  return true;
}

int LayoutCodePage(const KeyboardDescription& d, unsigned layout) {
  const LayoutRecord& r = d.layouts[layout % kLayouts];
  const int number = r.reserved[0] | r.reserved[1] << 8;
  return IsSupportedCodePage(number) ? number : kDefaultCodePage;
}

char32_t LayoutChar(const KeyboardDescription& d, unsigned layout, std::uint8_t byte) {
  const LayoutRecord& r = d.layouts[layout % kLayouts];
  if (CharSetOf(r) != CharSetKind::kNone) return CharOfByte(r, d.macros, byte);
  return DecodeByte(LayoutCodePage(d, layout), byte);
}

}  // namespace velto::layoutkit
