// The library as its users get it: installed with `cmake --install` into a scratch prefix, then
// used by a C++17 program through CMake's find_package, by a C program through pkg-config and a
// plain cc, and by programs whose own headers share names with ours, built as C++17, C++20 and
// with the old std::string ABI; and the shared library's exported symbols.

#include <sarn_runtime_bundle/sarn_runtime_bundle.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "manifest/digest.hpp"
#include "manifest/manifest.hpp"
#include "support/mapped_files.hpp"
#include "support/process.hpp"
#include "support/run_checked.hpp"
#include "support/temp_dir.hpp"

namespace srb::test {
namespace {

namespace fs = std::filesystem;

const fs::path kBuildDir = SRB_BUILD_DIR;
const fs::path kSourceDir = SRB_SOURCE_DIR;
const fs::path kLibDir = SRB_INSTALL_LIBDIR;

void install_to(const fs::path& prefix) {
  run_checked({SRB_CMAKE_COMMAND, "--install", kBuildDir.string(), "--prefix", prefix.string()});
}

// A bundle built by the tool from a two-file host root, and its manifest as written.
BundleManifest build_bundle_with_tool(const fs::path& dir) {
  make_host_root(dir / "root", {"/lib64/ld-linux-x86-64.so.2", "/etc/ld.so.cache"});
  run_checked({tool_path().string(), "build", "--version", "2.5", "--out",
               (dir / "bundle").string(), "--from", (dir / "root").string(), "--arch", "x86_64"});
  Result<BundleManifest> manifest = load_manifest(dir / "bundle");
  EXPECT_TRUE(manifest);
  return manifest ? *manifest : BundleManifest{};
}

std::string hash_mismatch_after_tampering(const fs::path& bundle, const BundleManifest& manifest) {
  write_file(bundle / "etc/ld.so.cache", "changed");
  const Result<FileDigest> changed = file_digest(bundle / "etc/ld.so.cache");
  EXPECT_TRUE(changed);
  return "hash mismatch: expected " + manifest.files[0].hash + " in bundle.toml, computed " +
         (changed ? changed->hash : "");
}

const std::string kNotSigned =
    "bundle is not signed \u2014 signature required (pass --allow-unsigned-runtime to opt out)";

// examples/ configured and built against an installation, the way a user of the library would:
// one program on the shared library, one on the static archive.
TEST(Install, ExampleProgramVerifiesABundleThroughTheLibrary) {
  if (kSanitizerBuild) GTEST_SKIP() << "checked in the plain build";
  TempDir dir;
  install_to(dir / "prefix");
  run_checked({SRB_CMAKE_COMMAND, "-S", (kSourceDir / "examples").string(), "-B",
               (dir / "example").string(), "-G", SRB_CMAKE_GENERATOR, "-DCMAKE_BUILD_TYPE=Release",
               "-DCMAKE_PREFIX_PATH=" + (dir / "prefix").string()});
  run_checked({SRB_CMAKE_COMMAND, "--build", (dir / "example").string()});
  ASSERT_FALSE(HasFailure());
  const BundleManifest manifest = build_bundle_with_tool(dir.path());
  ASSERT_FALSE(HasFailure());
  const std::string bundle = (dir / "bundle").string();

  const std::vector<std::string> examples = {(dir / "example/verify_bundle").string(),
                                             (dir / "example/verify_bundle_static").string()};
  for (const std::string& example : examples) {
    SCOPED_TRACE(example);
    const ProcessResult intact = run_process({example, bundle});
    EXPECT_EQ(intact.status, 0) << intact.err;
    EXPECT_EQ(intact.out,
              "runtime 2.5 for x86_64: 2 files, root hash " + manifest.root_hash + "\n");

    const ProcessResult unsigned_bundle = run_process({example, bundle, std::string(64, 'a')});
    EXPECT_EQ(unsigned_bundle.status, 1);
    EXPECT_EQ(unsigned_bundle.err, "verify_bundle: " + kNotSigned + "\n");
  }
  // The shared one really loads the installed library.
  const std::string needed = run_checked({"readelf", "-d", examples[0]}).out;
  EXPECT_NE(needed.find("[libsarn-runtime-bundle.so.1]"), std::string::npos) << needed;

  const std::string mismatch = hash_mismatch_after_tampering(dir / "bundle", manifest);
  for (const std::string& example : examples) {
    const ProcessResult tampered = run_process({example, bundle});
    EXPECT_EQ(tampered.status, 1);
    EXPECT_EQ(tampered.err, "verify_bundle: " + mismatch + "\n");
  }
}

std::vector<std::string> pkg_config(const fs::path& prefix, std::vector<std::string> what) {
  RunOptions options;
  options.env = {"PATH=/usr/bin:/bin",
                 "PKG_CONFIG_PATH=" + (prefix / kLibDir / "pkgconfig").string()};
  what.insert(what.begin(), "pkg-config");
  what.push_back("sarn-runtime-bundle");
  const std::string out = run_checked(what, options).out;
  std::istringstream words(out);
  std::vector<std::string> flags;
  for (std::string word; words >> word;)
    flags.push_back(word);
  return flags;
}

// An example of examples/ compiled as strict C99 by a plain cc with nothing but pkg-config's
// flags for the installation in `prefix`, and `extra` (a feature macro the example needs). With
// `link` {"--static", "--libs"}, the flags for linking the static archive.
void compile_c_example(const fs::path& prefix, const std::string& example, const fs::path& program,
                       const std::vector<std::string>& extra = {},
                       const std::vector<std::string>& link = {"--libs"}) {
  std::vector<std::string> compile = {"cc",      "-std=c99",   "-Wall",
                                      "-Wextra", "-Wpedantic", "-Werror"};
  compile.insert(compile.end(), extra.begin(), extra.end());
  for (const std::string& rest :
       {std::string("-o"), program.string(), (kSourceDir / "examples" / example).string()})
    compile.push_back(rest);
  for (const std::string& flag : pkg_config(prefix, {"--cflags"}))
    compile.push_back(flag);
  for (const std::string& flag : pkg_config(prefix, link))
    compile.push_back(flag);
  compile.push_back("-Wl,-rpath," + (prefix / kLibDir).string());
  run_checked(compile);
}

// What examples/verify_bundle.c prints for an intact bundle.
std::string c_example_listing(const BundleManifest& manifest) {
  std::string listing = "runtime 2.5 for x86_64: 2 files, root hash " + manifest.root_hash + "\n";
  for (const BundleFile& file : manifest.files)
    listing += "  " + file.path + " " + std::to_string(file.size) + "\n";
  return listing;
}

TEST(Install, CProgramBuiltWithPkgConfigVerifiesABundle) {
  if (kSanitizerBuild) GTEST_SKIP() << "checked in the plain build";
  TempDir dir;
  install_to(dir / "prefix");
  compile_c_example(dir / "prefix", "verify_bundle.c", dir / "verify_bundle_c");
  ASSERT_FALSE(HasFailure());
  const BundleManifest manifest = build_bundle_with_tool(dir.path());
  ASSERT_FALSE(HasFailure());
  const std::string program = (dir / "verify_bundle_c").string();
  const std::string bundle = (dir / "bundle").string();

  const ProcessResult intact = run_process({program, bundle});
  EXPECT_EQ(intact.status, 0) << intact.err;
  EXPECT_EQ(intact.out, c_example_listing(manifest));

  const ProcessResult unsigned_bundle = run_process({program, bundle, std::string(64, 'a')});
  EXPECT_EQ(unsigned_bundle.status, 1);
  EXPECT_EQ(unsigned_bundle.err, "verify_bundle: " + kNotSigned + " (kind 12)\n");

  const std::string mismatch = hash_mismatch_after_tampering(dir / "bundle", manifest);
  const ProcessResult tampered = run_process({program, bundle});
  EXPECT_EQ(tampered.status, 1);
  EXPECT_EQ(tampered.err, "verify_bundle: " + mismatch + " (kind 5, file etc/ld.so.cache)\n");
}

// The static archive's objects are C++: a program linked by the C compiler gets the C++ runtime
// they need only from what the installation names. A CMake project that enables C alone links
// SarnRuntimeBundle::Static, and a plain cc links with `pkg-config --static` where the archive is
// all there is of the library; both programs verify a bundle and load no library of ours.
TEST(Install, COnlyProgramsLinkTheStaticArchive) {
  if (kSanitizerBuild) GTEST_SKIP() << "checked in the plain build";
  TempDir dir;
  install_to(dir / "prefix");
  write_file(dir / "project/CMakeLists.txt",
             "cmake_minimum_required(VERSION 3.25)\n"
             "project(c_consumer LANGUAGES C)\n"
             "find_package(SarnRuntimeBundle 1.0 REQUIRED)\n"
             "add_executable(verify_bundle_c " +
                 (kSourceDir / "examples/verify_bundle.c").string() +
                 ")\n"
                 "target_link_libraries(verify_bundle_c PRIVATE SarnRuntimeBundle::Static)\n");
  run_checked({SRB_CMAKE_COMMAND, "-S", (dir / "project").string(), "-B",
               (dir / "project-build").string(), "-G", SRB_CMAKE_GENERATOR,
               "-DCMAKE_BUILD_TYPE=Release", "-DCMAKE_PREFIX_PATH=" + (dir / "prefix").string()});
  run_checked({SRB_CMAKE_COMMAND, "--build", (dir / "project-build").string()});
  // The shared library gone, -lsarn-runtime-bundle can only mean the archive.
  for (const fs::directory_entry& entry : fs::directory_iterator(dir / "prefix" / kLibDir))
    if (entry.path().filename().string().starts_with("libsarn-runtime-bundle.so"))
      fs::remove(entry.path());
  compile_c_example(dir / "prefix", "verify_bundle.c", dir / "verify_bundle_pkg_config", {},
                    {"--static", "--libs"});
  ASSERT_FALSE(HasFailure());
  const BundleManifest manifest = build_bundle_with_tool(dir.path());
  ASSERT_FALSE(HasFailure());

  for (const fs::path& program :
       {dir / "project-build/verify_bundle_c", dir / "verify_bundle_pkg_config"}) {
    SCOPED_TRACE(program.filename().string());
    const ProcessResult intact = run_process({program.string(), (dir / "bundle").string()});
    EXPECT_EQ(intact.status, 0) << intact.err;
    EXPECT_EQ(intact.out, c_example_listing(manifest));
    const std::string needed = run_checked({"readelf", "--dynamic", program.string()}).out;
    EXPECT_EQ(needed.find("libsarn-runtime-bundle"), std::string::npos) << needed;
  }
}

// An OpenSSL configuration that activates only the null provider leaves libcrypto without
// Ed25519. A program on the library then gets an error for the signature check instead of being
// aborted, and the tool, OpenSSL's only user in its process, does not read that configuration.
TEST(Install, LibcryptoWithoutEd25519IsAnErrorAndTheToolIgnoresOpensslConf) {
  if (kSanitizerBuild) GTEST_SKIP() << "checked in the plain build";
  TempDir dir;
  install_to(dir / "prefix");
  compile_c_example(dir / "prefix", "verify_bundle.c", dir / "verify_bundle_c");
  ASSERT_FALSE(HasFailure());
  const std::string identity = (dir / "identity.json").string();
  const std::string bundle = (dir / "bundle").string();
  run_checked({tool_path().string(), "key", "generate", "--out", identity});
  make_host_root(dir / "root", {"/lib64/ld-linux-x86-64.so.2"});
  run_checked({tool_path().string(), "build", "--version", "2.5", "--out", bundle, "--from",
               (dir / "root").string(), "--arch", "x86_64", "--identity", identity});
  const Result<BundleManifest> manifest = load_manifest(bundle);
  ASSERT_TRUE(manifest && manifest->publisher_hex);
  const std::string publisher = *manifest->publisher_hex;
  write_file(dir / "null.cnf",
             "openssl_conf = init\n[init]\nproviders = providers\n"
             "[providers]\nnull = null\n[null]\nactivate = 1\n");
  RunOptions null_provider;
  null_provider.env = minimal_env();
  null_provider.env->push_back("OPENSSL_CONF=" + (dir / "null.cnf").string());

  const ProcessResult program =
      run_process({(dir / "verify_bundle_c").string(), bundle, publisher}, null_provider);
  EXPECT_EQ(program.status, 1) << program.err;
  EXPECT_NE(program.err.find("Can not access a needed shared library (os error 79)"),
            std::string::npos)
      << program.err;

  const ProcessResult tool =
      run_tool({"verify", bundle, "--require-publisher", publisher}, null_provider);
  EXPECT_EQ(tool.status, 0) << tool.err;
}

// A launcher of examples/ and how to run it.
struct Launcher {
  std::string name;
  std::vector<std::string> command;  // the launcher itself, before its arguments
};

// The three launchers of examples/, built against the installation in `prefix` as their users
// build them: C with cc and pkg-config, C++17 with CMake, Python through ctypes.
std::vector<Launcher> build_launchers(const fs::path& dir, const fs::path& prefix) {
  // execve and strerror are POSIX, which strict C99 leaves out unless asked for.
  compile_c_example(prefix, "launch.c", dir / "launch", {"-D_POSIX_C_SOURCE=200809L"});
  run_checked({SRB_CMAKE_COMMAND, "-S", (kSourceDir / "examples").string(), "-B",
               (dir / "example").string(), "-G", SRB_CMAKE_GENERATOR, "-DCMAKE_BUILD_TYPE=Release",
               "-DCMAKE_PREFIX_PATH=" + prefix.string()});
  run_checked({SRB_CMAKE_COMMAND, "--build", (dir / "example").string(), "--target", "launch"});
  return {{"C", {(dir / "launch").string()}},
          {"C++", {(dir / "example/launch").string()}},
          {"Python", {"python3", (kSourceDir / "examples/launch.py").string()}}};
}

// Each launcher of examples/, built like any program against the installation, runs a program on
// a signed bundle of this host: what the program maps must be the bundle's loader and C library,
// not the host's, and no LD_ variable of the launcher's may reach it. What the checked launch
// refuses, each refuses before it runs anything: a program without '/', a libc that another user
// owns, a bundle copied under another version's tag, another machine's bundle, a version that is
// not installed.
TEST(Install, LaunchersRunAProgramOnlyOnACheckedBundle) {
  if (kSanitizerBuild) GTEST_SKIP() << "checked in the plain build";
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a file to another user";
#if !defined(__x86_64__)
  GTEST_SKIP() << "the foreign bundle here is an aarch64 one, for an x86_64 host";
#endif
  TempDir dir;
  install_to(dir / "prefix");
  const std::vector<Launcher> launchers = build_launchers(dir.path(), dir / "prefix");
  ASSERT_FALSE(HasFailure());

  const fs::path root = fs::canonical(dir.path()) / "bundles";
  const std::string identity = (dir / "id.json").string();
  run_checked({tool_path().string(), "key", "generate", "--out", identity});
  run_checked({tool_path().string(), "build", "--version", "1.0", "--out", (root / "1.0").string(),
               "--identity", identity});
  fs::copy(root / "1.0", root / "2.0", fs::copy_options::recursive);
  make_host_root(dir / "arm", {"/lib/ld-linux-aarch64.so.1", "/etc/ld.so.cache"});
  run_checked({tool_path().string(), "build", "--version", "3.0", "--out", (root / "3.0").string(),
               "--from", (dir / "arm").string(), "--arch", "aarch64", "--identity", identity});
  ASSERT_FALSE(HasFailure());
  const std::string publisher =
      run_checked({tool_path().string(), "key", "pubkey", "--identity", identity})
          .out.substr(0, 64);
  const fs::path libm = "/lib/x86_64-linux-gnu/libm.so.6";
  RunOptions options;
  options.env = {"PATH=/usr/bin:/bin", "SARN_RUNTIME_BUNDLE_DIR=" + root.string(),
                 "LD_PRELOAD=" + libm.string(), "LD_LIBRARY_PATH=/nowhere",
                 "SARN_RUNTIME_BUNDLE_LIBRARY=" +
                     (dir / "prefix" / kLibDir / "libsarn-runtime-bundle.so.1").string()};
  // The bundle's libc, for a run in which another user owns it.
  std::string libc_path;
  for (const auto& entry : fs::recursive_directory_iterator(root / "1.0"))
    if (entry.path().filename() == "libc.so.6") libc_path = entry.path().string();
  ASSERT_FALSE(libc_path.empty());

  for (const Launcher& launcher : launchers) {
    SCOPED_TRACE(launcher.name);
    const auto launch = [&](std::vector<std::string> args) {
      std::vector<std::string> command = launcher.command;
      command.insert(command.end(), args.begin(), args.end());
      return run_process(command, options);
    };
    const ProcessResult ran = launch({"1.0", publisher, "/bin/cat", "/proc/self/maps"});
    ASSERT_EQ(ran.status, 0) << ran.err;
    const std::string bundle = (root / "1.0").string() + "/";
    bool loader = false;
    bool libc_mapped = false;
    for (const std::string& file : mapped_files(ran.out)) {
      EXPECT_NE(fs::path(file), libm) << "LD_PRELOAD reached the program";
      if (!is_loader_or_libc(file)) continue;
      EXPECT_TRUE(file.starts_with(bundle)) << file;
      loader = loader || fs::path(file).filename().string().starts_with("ld-linux");
      libc_mapped = libc_mapped || fs::path(file).filename() == "libc.so.6";
    }
    EXPECT_TRUE(loader && libc_mapped) << ran.out;
    const ProcessResult environment = launch({"1.0", publisher, "/usr/bin/env"});
    EXPECT_EQ(environment.status, 0) << environment.err;
    EXPECT_EQ(environment.out.find("LD_"), std::string::npos) << environment.out;

    const struct {
      std::vector<std::string> args;
      std::string err;
    } refusals[] = {
        {{"1.0", publisher, "cat"}, "i/o: Invalid argument (os error 22) (kind 1)"},
        {{"2.0", publisher, "/bin/true"},
         "bundle version \"1.0\" does not match required version \"2.0\" (kind 28)"},
        {{"3.0", publisher, "/bin/true"},
         "bundle arch \"aarch64\" does not match host arch \"x86_64\" (kind 15)"},
        {{"9.9", publisher, "/bin/true"},
         "bundle version \"9.9\" is not installed: no bundle.toml in " + (root / "9.9").string() +
             " nor in /usr/lib/sarn-runtime/9.9 (kind 30, file " + (root / "9.9").string() + ")"},
    };
    for (const auto& refusal : refusals) {
      const ProcessResult refused = launch(refusal.args);
      EXPECT_EQ(refused.status, 1);
      EXPECT_EQ(refused.out, "");
      EXPECT_EQ(refused.err, "launch: " + refusal.err + "\n");
    }
    ASSERT_EQ(::chown(libc_path.c_str(), kOtherUser, 0), 0);
    const ProcessResult unsafe = launch({"1.0", publisher, "/bin/cat", "/proc/self/maps"});
    ASSERT_EQ(::chown(libc_path.c_str(), 0, 0), 0);
    EXPECT_EQ(unsafe.status, 1);
    EXPECT_EQ(unsafe.out, "");
    EXPECT_EQ(unsafe.err, "launch: bundle is not safe to run: " + libc_path +
                              " is owned by user 65534 (kind 29, file " + libc_path + ")\n");
  }
}

// A consumer's own verify/verify.hpp, core/result.hpp and TRY macro stay its own: the installed
// headers include only each other by their <sarn_runtime_bundle/...> names and define no macro
// outside that prefix. Built with g++ and -I alone, no CMake, as C++17 and C++20, and with the
// old std::string ABI, which links because no C++ type crosses the shared library.
TEST(Install, ConsumersWithOwnHeadersAndAnyStandardOrStringAbiBuild) {
  if (kSanitizerBuild) GTEST_SKIP() << "checked in the plain build";
  TempDir dir;
  install_to(dir / "prefix");
  write_file(dir / "own/verify/verify.hpp",
             "#pragma once\ninline int own_verify() { return 7; }\n");
  write_file(dir / "own/core/result.hpp", "#pragma once\n#define TRY(x) (x)\n");
  write_file(dir / "main.cpp", R"(#include <verify/verify.hpp>
#include <core/result.hpp>
#include <sarn_runtime_bundle/bundle.hpp>
#include <iostream>
int main(int, char** argv) {
  const srb::Result<std::string> path = srb::resolve_bundle_path("4.2", srb::SystemOnly::yes);
  std::cout << TRY(own_verify()) << ' ' << *path << '\n';
  srb::VerifyRequest request;
  request.bundle_dir = argv[1];
  request.require_version = "4.2";
  const srb::Result<srb::BundleManifest> verified = srb::verify_bundle(request);
  if (!verified)
    std::cout << static_cast<int>(verified.error().kind) << ' ' << verified.error().message << ' '
              << verified.error().path.value_or("-") << ' ' << verified.error().os_code << '\n';
}
)");
  const fs::path include_dir = dir / "prefix/include";
  const std::vector<std::vector<std::string>> variants = {
      {"-std=c++17"}, {"-std=c++20"}, {"-std=c++17", "-D_GLIBCXX_USE_CXX11_ABI=0"}};
  const std::string absent = (dir / "absent").string();
  for (const std::vector<std::string>& flags : variants) {
    const std::string name = "consumer" + std::to_string(&flags - variants.data());
    SCOPED_TRACE(flags.back());
    std::vector<std::string> compile = {"g++", "-Wall", "-Wextra", "-Wpedantic", "-Werror"};
    compile.insert(compile.end(), flags.begin(), flags.end());
    for (const std::string& rest :
         {"-I" + (dir / "own").string(), "-I" + include_dir.string(), std::string("-o"),
          (dir / name).string(), (dir / "main.cpp").string(),
          "-L" + (dir / "prefix" / kLibDir).string(), std::string("-lsarn-runtime-bundle"),
          "-Wl,-rpath," + (dir / "prefix" / kLibDir).string()})
      compile.push_back(rest);
    run_checked(compile);
    if (HasFailure()) return;
    EXPECT_EQ(run_checked({(dir / name).string(), absent}).out,
              "7 /usr/lib/sarn-runtime/4.2\n3 bundle.toml not found at " + absent +
                  "/bundle.toml " + absent + "/bundle.toml 2\n");
  }

  const std::regex define(R"(^\s*#\s*define\s+(\w+))");
  const std::regex include(R"(^\s*#\s*include\s+(\S+))");
  for (const fs::directory_entry& entry :
       fs::directory_iterator(include_dir / "sarn_runtime_bundle")) {
    SCOPED_TRACE(entry.path().filename().string());
    std::istringstream lines(read_file(entry.path()));
    for (std::string line; std::getline(lines, line);) {
      std::smatch match;
      if (std::regex_search(line, match, define)) {
        EXPECT_TRUE(match[1].str().starts_with("SARN_RUNTIME_BUNDLE_")) << line;
      }
      if (std::regex_search(line, match, include)) {
        EXPECT_TRUE(match[1].str().starts_with("<")) << line;
      }
    }
  }
}

// The archive is position-independent, so a plugin or a language binding can take it whole into
// a shared object of its own, with nothing but the C and C++ runtimes and BLAKE3 (libcrypto is
// loaded when needed), and it holds the library, not the command line.
TEST(Install, StaticArchiveLinksIntoASharedObjectWithoutTheCommandLine) {
  if (kSanitizerBuild) GTEST_SKIP() << "checked in the plain build";
  TempDir dir;
  install_to(dir / "prefix");
  const fs::path lib = dir / "prefix" / kLibDir;
  run_checked({"g++", "-shared", "-Wl,--no-undefined", "-o", (dir / "plugin.so").string(),
               "-Wl,--whole-archive", (lib / "libsarn-runtime-bundle.a").string(),
               "-Wl,--no-whole-archive", (lib / "libsarn_runtime_bundle_blake3.a").string()});
  EXPECT_TRUE(fs::is_regular_file(dir / "plugin.so"));

  // Judged by the functions the archive defines, not by its members' names, which a batched
  // (unity) build does not keep.
  const std::string defined =
      run_checked({"nm", "-C", "--defined-only", (lib / "libsarn-runtime-bundle.a").string()}).out;
  for (const char* library : {" T srb::verify_bundle(", " T srb_verify\n"})
    EXPECT_NE(defined.find(library), std::string::npos) << library;
  for (const char* command_line : {"srb::run(", "srb::parse_command_line(", "CLI::"})
    EXPECT_EQ(defined.find(command_line), std::string::npos) << command_line;
}

std::set<std::string> lines_of(const std::string& text) {
  std::set<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.insert(line);
  return lines;
}

// packaging/symbols, the one list of what the shared library exports: each symbol with the
// version node it carries and the release that added it (" srb_verify@SARN_RUNTIME_BUNDLE_1.0
// 1.0.0"; a node's own symbol is listed as "NODE@NODE").
struct ListedSymbol {
  std::string name;
  std::string node;
  std::string release;
};

std::vector<ListedSymbol> symbols_file() {
  const std::regex entry(R"(^ ([\w.]+)@(SARN_RUNTIME_BUNDLE_[0-9.]+) ([0-9.]+)$)");
  std::vector<ListedSymbol> symbols;
  std::istringstream lines(read_file(kSourceDir / "packaging/symbols"));
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with(" ")) continue;  // the library's line and its fields
    std::smatch match;
    EXPECT_TRUE(std::regex_match(line, match, entry)) << line;
    if (!match.empty()) symbols.push_back({match[1], match[2], match[3]});
  }
  return symbols;
}

std::vector<std::string> minus(const std::set<std::string>& a, const std::set<std::string>& b) {
  std::vector<std::string> rest;
  std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(rest));
  return rest;
}

// The names the declarations of `text` (a C header) give to functions of the interface.
std::set<std::string> declared_functions(const std::string& text) {
  const std::regex declaration(R"(SARN_RUNTIME_BUNDLE_API [^;(#]*\b(srb_\w+)\()");
  std::set<std::string> names;
  for (std::sregex_iterator it(text.begin(), text.end(), declaration), end; it != end; ++it)
    names.insert((*it)[1]);
  return names;
}

// Only the C interface leaves the shared library, each function under the version node of the
// release that added it, exactly as packaging/symbols lists them: never BLAKE3's entry points,
// the tool's own srb:: functions, a C++ symbol of any kind or the C++ runtime's template
// instances, never a symbol without a node. A function moved out of the node it shipped in, or
// added under an old one, or declared in the header and not exported, fails here (and dpkg-
// gensymbols stops the package build). exports.map names every function: a pattern would let a
// new one slip into an old node. Each node inherits the one before it. Its file name carries the
// project's version and its SONAME the major number alone.
TEST(SharedLibrary, ExportsTheSymbolsFileUnderItsVersionNodesAndSoname) {
  if (kSanitizerBuild) GTEST_SKIP() << "checked in the plain build";
  const std::string library = SRB_SHARED_LIBRARY;
  std::set<std::string> listed;
  std::set<std::string> listed_functions;
  std::map<int, std::string> nodes;  // by minor version
  for (const ListedSymbol& symbol : symbols_file()) {
    SCOPED_TRACE(symbol.name);
    listed.insert(symbol.name + "@" + symbol.node);
    nodes[std::stoi(symbol.node.substr(symbol.node.rfind('.') + 1))] = symbol.node;
    // A node is named after the release that opened it: 1.0.x's functions are in 1.0.
    const std::string release = symbol.release.substr(0, symbol.release.rfind('.'));
    EXPECT_EQ(symbol.node, "SARN_RUNTIME_BUNDLE_" + release);
    if (symbol.name == symbol.node) continue;
    EXPECT_TRUE(symbol.name.starts_with("srb_"));
    listed_functions.insert(symbol.name);
  }
  ASSERT_TRUE(listed.contains("srb_verify@SARN_RUNTIME_BUNDLE_1.0"));

  // "T srb_verify@@SARN_RUNTIME_BUNDLE_1.0", and "A SARN_RUNTIME_BUNDLE_1.0" for the node.
  std::set<std::string> exported;
  for (const std::string& line :
       lines_of(run_checked({"sh", "-c",
                             "nm --dynamic --defined-only --with-symbol-versions \"$1\" | "
                             "awk '{print $2, $3}'",
                             "sh", library})
                    .out)) {
    const std::size_t at = line.find("@@");
    if (line.starts_with("A ") && at == std::string::npos) {
      exported.insert(line.substr(2) + "@" + line.substr(2));
      continue;
    }
    EXPECT_TRUE(line.starts_with("T ") && at != std::string::npos) << line;
    if (at != std::string::npos)
      exported.insert(line.substr(2, at - 2) + "@" + line.substr(at + 2));
  }
  const std::vector<std::string> none;
  EXPECT_EQ(minus(exported, listed), none) << "exported, but not so in packaging/symbols";
  EXPECT_EQ(minus(listed, exported), none) << "in packaging/symbols, but not exported so";
  const std::set<std::string> declared = declared_functions(
      read_file(kSourceDir / "include/sarn_runtime_bundle/sarn_runtime_bundle.h"));
  EXPECT_EQ(minus(declared, listed_functions), none) << "declared, but not in packaging/symbols";
  EXPECT_EQ(minus(listed_functions, declared), none) << "in packaging/symbols, but not declared";

  // Outside comments, the only pattern of the version script is the one that hides the rest.
  const std::string script = std::regex_replace(read_file(kSourceDir / "src/api/exports.map"),
                                                std::regex(R"(/\*[^*]*\*+([^/*][^*]*\*+)*/)"), "");
  EXPECT_EQ(std::count(script.begin(), script.end(), '*'), 1) << script;
  EXPECT_NE(script.find("local:\n    *;"), std::string::npos) << script;
  EXPECT_EQ(script.find_first_of("?["), std::string::npos) << script;

  // Each node after the first names the one before it as its parent ("Name: NODE", then
  // "Parent 1: NODE" on the next line).
  std::map<std::string, std::string> parents;
  std::istringstream definitions(run_checked({"readelf", "-V", library}).out);
  std::string defined;
  for (std::string line; std::getline(definitions, line);) {
    if (const std::size_t name = line.find("Name: SARN_RUNTIME_BUNDLE_"); name != line.npos)
      defined = line.substr(name + 6);
    if (const std::size_t parent = line.find("Parent 1: "); parent != line.npos)
      parents[defined] = line.substr(parent + 10);
  }
  std::string previous;
  for (const auto& [minor, node] : nodes) {
    SCOPED_TRACE(node);
    EXPECT_EQ(parents[node], previous);
    previous = node;
  }

  const std::string version = srb_version();
  const std::string major = std::to_string(SARN_RUNTIME_BUNDLE_VERSION_MAJOR);
  EXPECT_TRUE(version.starts_with(major + ".")) << version;
  const std::string dynamic = run_checked({"readelf", "-d", library}).out;
  EXPECT_NE(dynamic.find("Library soname: [libsarn-runtime-bundle.so." + major + "]"),
            std::string::npos)
      << dynamic;
  EXPECT_EQ(fs::path(library).filename(), "libsarn-runtime-bundle.so." + version);
}

// find_package(SarnRuntimeBundle X.Y) accepts what the SONAME promises: any release of the same
// major version at or above the one asked for, never another major version. The version file is
// checked as if the installed release were M.3.2, so that an older minor version can be asked for.
TEST(SharedLibrary, CMakePackageVersionFollowsTheSoname) {
  const std::string major = std::to_string(SARN_RUNTIME_BUNDLE_VERSION_MAJOR);
  const std::string version = srb_version();
  std::string version_file = read_file(kBuildDir / "SarnRuntimeBundleConfigVersion.cmake");
  const std::string stated = "set(PACKAGE_VERSION \"" + version + "\")";
  const std::size_t at = version_file.find(stated);
  ASSERT_NE(at, std::string::npos) << "the package version is the library's";
  version_file.replace(at, stated.size(), "set(PACKAGE_VERSION \"" + major + ".3.2\")");
  const struct {
    std::string requested;
    bool compatible;
  } cases[] = {
      {major + ".1", true},
      {major + ".3.2", true},
      {major, true},
      {major + ".4", false},
      {std::to_string(SARN_RUNTIME_BUNDLE_VERSION_MAJOR + 1) + ".0", false},
      {std::to_string(SARN_RUNTIME_BUNDLE_VERSION_MAJOR - 1) + ".9", false},
  };
  TempDir dir;
  write_file(dir / "version.cmake", version_file);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.requested);
    write_file(dir / "check.cmake", "set(PACKAGE_FIND_VERSION " + c.requested +
                                        ")\nstring(REPLACE . \";\" parts ${PACKAGE_FIND_VERSION})\n"
                                        "list(GET parts 0 PACKAGE_FIND_VERSION_MAJOR)\n"
                                        "include(\"" +
                                        (dir / "version.cmake").string() +
                                        "\")\n"
                                        "message(\"${PACKAGE_VERSION_COMPATIBLE}\")\n");
    const ProcessResult result =
        run_checked({SRB_CMAKE_COMMAND, "-P", (dir / "check.cmake").string()});
    EXPECT_EQ(result.err, c.compatible ? "TRUE\n" : "FALSE\n");
  }
}

}  // namespace
}  // namespace srb::test

namespace srb::test {
namespace {

// The functions sarn_runtime_bundle.h declares, by name.
std::set<std::string> declared_functions() {
  const std::string header =
      read_file(kSourceDir / "include/sarn_runtime_bundle/sarn_runtime_bundle.h");
  const std::regex declaration(R"(SARN_RUNTIME_BUNDLE_API[^;(]*?\b(srb_[a-z0-9_]+)\s*\()");
  std::set<std::string> names;
  for (auto it = std::sregex_iterator(header.begin(), header.end(), declaration);
       it != std::sregex_iterator(); ++it)
    names.insert((*it)[1]);
  return names;
}

// sarn_runtime_bundle(3) renders without a warning and names every function the header declares
// and every error kind, so nothing the library offers is missing from its manual.
TEST(LibraryManual, RendersAndNamesEveryFunctionAndErrorKind) {
  const fs::path page = kSourceDir / "packaging/sarn_runtime_bundle.3";
  const ProcessResult rendered =
      run_process({"groff", "-man", "-ww", "-t", "-Tutf8", page.string()});
  ASSERT_EQ(rendered.status, 0) << rendered.err;
  EXPECT_EQ(rendered.err, "");
  const std::string source = read_file(page);
  const std::set<std::string> functions = declared_functions();
  EXPECT_GE(functions.size(), 70u);
  for (const std::string& function : functions)
    EXPECT_NE(source.find(function), std::string::npos) << function << " is not in the manual";
  for (int kind = SRB_ERROR_IO; kind <= SRB_ERROR_NOT_INSTALLED; ++kind)
    EXPECT_NE(source.find("\n" + std::to_string(kind) + "\tSRB_ERROR_"), std::string::npos)
        << "kind " << kind;
}

}  // namespace
}  // namespace srb::test
