// The manifest's text: one text per package, read back exactly, and every
// other text refused; and the hash of its files, whole or in pieces.

#include "package/package_manifest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using ovix::ContentHasher;
using ovix::ManifestEntry;
using ovix::PackageManifest;

ManifestEntry entry(const std::string& key, const std::string& bytes) {
  ContentHasher hasher;
  hasher.update(bytes.data(), bytes.size());
  return {key, bytes.size(), hasher.finish()};
}

OVIXPackageInfo header() {
  OVIXPackageInfo h;
  h.setSkey("A3A202612040905");
  h.setName("OVIX_TARNO");
  h.setVer("V3");
  h.setPackTime("2026-12-04-09-05");
  h.setRefTblname("line\nbreak\\");
  return h;
}

// One package gives one text whatever the order of its files, read back
// exactly; every text it would not write is refused.
TEST(PackageManifestTest, OneTextPerPackageReadsBackExactlyAndOthersAreRefused) {
  OVIXPackageInfo h = header();
  PackageManifest a(h, {entry("bin\\b.dll", "bb"), entry("bin\\a.dll", ""), entry("中文\\c", "c")});
  PackageManifest b(h, {entry("中文\\c", "c"), entry("bin\\a.dll", ""), entry("bin\\b.dll", "bb")});
  EXPECT_EQ(a.text(), b.text());
  PackageManifest read;
  std::string error;
  ASSERT_TRUE(PackageManifest::parse(a.text(), &read, &error)) << error;
  EXPECT_EQ(read.text(), a.text());
  EXPECT_EQ(read.field("table"), "line\nbreak\\");
  const std::string good = PackageManifest(header(), {entry("a", "1"), entry("b", "2")}).text();
  auto edited = [&](const std::string& from, const std::string& to) {
    std::string text = good;
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return text.replace(at, from.size(), to);
  };
  const std::string lineA = "1 " + ovix::hashText(entry("a", "1").hash) + " a\n";
  const std::string lineB = "1 " + ovix::hashText(entry("b", "2").hash) + " b\n";
  const std::pair<const char*, std::string> cases[] = {
      {"empty", ""},
      {"other first line", edited("manifest 1", "manifest 2")},
      {"field missing", edited("name OVIX_TARNO\n", "")},
      {"bad escape", edited("line\\nbreak", "line\\xbreak")},
      {"count too high", edited("files 2", "files 3")},
      {"count with a leading zero", edited("files 2", "files 02")},
      {"files out of order", edited(lineA + lineB, lineB + lineA)},
      {"file listed twice", edited(lineB, lineA)},
      {"upper-case hash", edited(lineA, lineA.substr(0, 2) + "A" + lineA.substr(3))},
      {"no line end", good.substr(0, good.size() - 1)},
      {"text after the files", good + "x\n"},
  };
  ASSERT_TRUE(PackageManifest::parse(good, &read, &error)) << error;
  for (const auto& [name, text] : cases) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(PackageManifest::parse(text, &read, &error));
    EXPECT_FALSE(error.empty());
  }
}

// The hash is SHA-256, of the bytes whole or in pieces.  (Pieces handed to
// the hash worker are pack_job_test's signed package.)
TEST(ContentHasherTest, TheHashIsSha256OfTheBytesWholeOrInPieces) {
  const std::string abc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
  EXPECT_EQ(ovix::hashText(entry("k", "abc").hash), abc);
  ContentHasher pieces;
  for (std::string piece : {"a", "", "bc"}) pieces.update(piece.data(), piece.size());
  EXPECT_EQ(ovix::hashText(pieces.finish()), abc);
}

}  // namespace
