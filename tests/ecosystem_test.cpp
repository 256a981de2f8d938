// The tool as people install it: the generated man page and shell completions against the
// command tree, the install tree, a program built on the installed library, the Debian
// packages, and the worked example of the format document.

#include <sarn_runtime_bundle/sarn_runtime_bundle.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/command_tree.hpp"
#include "core/text.hpp"
#include "packaging/command_docs.hpp"
#include "support/process.hpp"
#include "support/run_checked.hpp"
#include "support/temp_dir.hpp"

namespace srb::test {
namespace {

namespace fs = std::filesystem;

// The version the libraries and packages carry: the header's, which the library checks is the
// project's.
const std::string kLibraryVersion = std::to_string(SARN_RUNTIME_BUNDLE_VERSION_MAJOR) + "." +
                                    std::to_string(SARN_RUNTIME_BUNDLE_VERSION_MINOR) + "." +
                                    std::to_string(SARN_RUNTIME_BUNDLE_VERSION_PATCH);

const fs::path kDocsDir = SRB_DOCS_DIR;
const fs::path kBuildDir = SRB_BUILD_DIR;
const fs::path kSourceDir = SRB_SOURCE_DIR;

// Each command of the real tree with every name of every option, walked through CLI11 itself.
struct TreeCommand {
  std::vector<std::string> words;
  std::set<std::string> option_names;
};

void walk(const CLI::App& app, std::vector<std::string> words, std::vector<TreeCommand>& out) {
  TreeCommand command{words, {}};
  for (const CLI::Option* option : app.get_options()) {
    for (const std::string& name : option->get_snames())
      command.option_names.insert("-" + name);
    for (const std::string& name : option->get_lnames())
      command.option_names.insert("--" + name);
  }
  out.push_back(command);
  for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; })) {
    std::vector<std::string> sub_words = words;
    sub_words.push_back(sub->get_name());
    walk(*sub, sub_words, out);
  }
}

std::vector<TreeCommand> tree_commands() {
  const CommandTree tree("sarn-runtime-bundle");
  std::vector<TreeCommand> commands;
  walk(tree.root, {}, commands);
  return commands;
}

std::set<std::string> lines_of(const std::string& text) {
  std::set<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    lines.insert(line);
  return lines;
}

RunOptions in_directory(const fs::path& cwd) {
  RunOptions options;
  options.cwd = cwd;
  return options;
}

bool has_program(const std::string& name) {
  return run_process({"sh", "-c", "command -v \"$1\"", "sh", name}).status == 0;
}

// The words bash offers for the last of `words` (the word under the cursor), one per line.
std::set<std::string> bash_complete(std::vector<std::string> words, const fs::path& cwd = ".") {
  std::vector<std::string> args = {
      "bash",
      "-c",
      "source \"$1\"; shift; COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); COMP_LINE=\"$*\"; "
      "COMP_POINT=${#COMP_LINE}; _sarn_runtime_bundle; "
      "((${#COMPREPLY[@]})) && printf '%s\\n' \"${COMPREPLY[@]}\"; exit 0",
      "bash",
      (kDocsDir / "sarn-runtime-bundle.bash").string(),
      "sarn-runtime-bundle"};
  args.insert(args.end(), words.begin(), words.end());
  const ProcessResult result = run_process(args, in_directory(cwd));
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  return lines_of(result.out);
}

TEST(GeneratedDocs, BashCompletesEveryOptionOfEveryCommand) {
  for (const TreeCommand& command : tree_commands()) {
    SCOPED_TRACE(joined(command.words, " "));
    std::vector<std::string> words = command.words;
    words.push_back("-");
    EXPECT_EQ(bash_complete(words), command.option_names);
  }
}

TEST(GeneratedDocs, FishCompletesEveryOptionOfEveryCommand) {
  if (!has_program("fish")) GTEST_SKIP() << "fish is not installed";
  for (const TreeCommand& command : tree_commands()) {
    SCOPED_TRACE(joined(command.words, " "));
    const std::string line = joined({"sarn-runtime-bundle", joined(command.words, " "), "-"}, " ");
    const ProcessResult result =
        run_process({"fish", "--no-config", "-c",
                     "source $argv[1]; complete -C $argv[2] | string split -f1 \\t",
                     (kDocsDir / "sarn-runtime-bundle.fish").string(), line});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(lines_of(result.out), command.option_names);
  }
}

TEST(GeneratedDocs, FishOffersTheArchitectures) {
  if (!has_program("fish")) GTEST_SKIP() << "fish is not installed";
  for (const char* line :
       {"sarn-runtime-bundle build --arch ", "sarn-runtime-bundle verify d --require-arch "}) {
    SCOPED_TRACE(line);
    const ProcessResult result =
        run_process({"fish", "--no-config", "-c",
                     "source $argv[1]; complete -C $argv[2] | string split -f1 \\t",
                     (kDocsDir / "sarn-runtime-bundle.fish").string(), line});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(lines_of(result.out), (std::set<std::string>{"x86_64", "aarch64"}));
  }
}

// zsh completes only inside its line editor, so this checks the definitions: the script parses,
// and each command's function names each of that command's options.
TEST(GeneratedDocs, ZshFunctionOfEveryCommandNamesItsOptions) {
  const std::string script = read_file(kDocsDir / "_sarn-runtime-bundle");
  for (const TreeCommand& command : tree_commands()) {
    SCOPED_TRACE(joined(command.words, " "));
    const std::string name = command.words.empty()
                                 ? std::string("_sarn-runtime-bundle() {\n")
                                 : "_sarn-runtime-bundle_" + joined(command.words, "_") + "() {\n";
    const std::size_t start = script.find("\n" + name);
    ASSERT_NE(start, std::string::npos);
    const std::string body = script.substr(start, script.find("\n}\n", start) - start);
    for (const std::string& option : command.option_names)
      EXPECT_NE(body.find(option), body.npos) << option;
  }
  if (has_program("zsh")) {
    const ProcessResult result =
        run_process({"zsh", "-n", (kDocsDir / "_sarn-runtime-bundle").string()});
    EXPECT_EQ(result.status, 0) << result.err;
  }
}

// The words of the option lines in one command's section of the rendered page. A section runs
// from its heading (three spaces, the command words) to the next heading at column 0 or 3; its
// option lines are indented by seven spaces ("       -h, --help").
std::set<std::string> rendered_option_words(const std::string& page, const std::string& heading) {
  std::istringstream in(page);
  std::set<std::string> words;
  bool inside = false;
  for (std::string line; std::getline(in, line);) {
    const std::size_t indent = line.find_first_not_of(' ');
    if (indent == 0 || indent == 3) inside = line == "   " + heading;
    if (!inside || indent != 7) continue;
    std::istringstream tag(line);
    for (std::string word; tag >> word;)
      words.insert(word.ends_with(',') ? word.substr(0, word.size() - 1) : word);
  }
  return words;
}

// How a help screen lists an argument of the generated documents: "-h, --help",
// "--version <VERSION>", "<DIR>", "[COMMAND]...".
std::string help_entry(const DocArgument& argument) {
  if (argument.is_positional())
    return argument.repeat == Repeat::yes ? "[" + argument.value_name + "]..."
                                          : "<" + argument.value_name + ">";
  std::string entry = joined(argument.names, ", ");
  if (!argument.value_name.empty()) entry += " <" + argument.value_name + ">";
  return entry;
}

// The documents and the help screens show the same subcommands, arguments and value names.
TEST(GeneratedDocs, HelpScreensListWhatTheDocumentsList) {
  const CommandTree tree("sarn-runtime-bundle");
  for (const DocCommand& command : describe_commands(tree)) {
    SCOPED_TRACE(command_path(command));
    std::vector<std::string> args = command.words;
    args.push_back("--help");
    std::set<std::string> listed;
    for (const std::string& line : lines_of(run_tool(args).out))
      if (line.starts_with("  ") && line[2] != ' ')
        listed.insert(line.substr(2, line.find("  ", 2) - 2));
    std::set<std::string> documented(command.subcommands.begin(), command.subcommands.end());
    for (const DocArgument& argument : command.arguments)
      documented.insert(help_entry(argument));
    EXPECT_EQ(listed, documented);
  }
}

TEST(GeneratedDocs, ManPageRendersWithoutWarningsAndDocumentsEveryOption) {
  if (!has_program("groff")) GTEST_SKIP() << "groff is not installed";
  // -P-cbou: plain characters, without bold and underline sequences.
  const ProcessResult result = run_process(
      {"groff", "-man", "-ww", "-Tutf8", "-P-cbou", (kDocsDir / "sarn-runtime-bundle.1").string()});
  ASSERT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  for (const TreeCommand& command : tree_commands()) {
    if (command.words.empty()) continue;
    SCOPED_TRACE(joined(command.words, " "));
    const std::set<std::string> words =
        rendered_option_words(result.out, joined(command.words, " "));
    for (const std::string& option : command.option_names)
      EXPECT_TRUE(words.contains(option)) << option;
  }
}

TEST(BashCompletion, OffersWhatFitsTheCursorPosition) {
  TempDir cwd;
  write_file(cwd / "id.json", "{}");
  const std::set<std::string> files = {"id.json"};
  const struct {
    std::vector<std::string> words;
    std::set<std::string> offered;
  } cases[] = {
      {{"ve"}, {"verify"}},
      {{""}, {"build", "verify", "path", "key", "help"}},
      {{"key", ""}, {"generate", "pubkey", "help"}},
      {{"help", ""}, {"build", "verify", "path", "key"}},
      {{"key", "help", "p"}, {"pubkey"}},
      {{"path", "--sys"}, {"--system"}},
      {{"build", "--version", ""}, {}},  // free text
      {{"build", "--version", "1.0", "--o"}, {"--out"}},
      {{"build", "--out", ""}, files},
      {{"build", "--include", "=", ""}, files},  // --include=<TAB>: bash splits at "="
      {{"verify", "--require-signature", ""}, files},
      {{"path", "--version", "key", ""}, {}},  // a value is not a subcommand
      {{"build", "--arch", ""}, {"x86_64", "aarch64"}},
      {{"build", "--arch", "a"}, {"aarch64"}},
      {{"build", "--arch", "=", "x"}, {"x86_64"}},
      {{"verify", "--require-arch", ""}, {"x86_64", "aarch64"}},
      // An option already given is not offered again, under either of its names; --include is
      // repeatable.
      {{"path", "--version", "1", "--"}, {"--system", "--help"}},
      {{"path", "--system", "-"}, {"--version", "-h", "--help"}},
      {{"build", "--version", "=", "1", "--out", "o", "--include", "a", "--i"},
       {"--identity", "--include"}},
      {{"key", "pubkey", "-h", "-"}, {"--identity"}},
      {{"key", "pubkey", "--help", "-"}, {"--identity"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(joined(c.words, "|"));
    EXPECT_EQ(bash_complete(c.words, cwd.path()), c.offered);
  }
  const ProcessResult syntax =
      run_process({"bash", "-n", (kDocsDir / "sarn-runtime-bundle.bash").string()});
  EXPECT_EQ(syntax.status, 0) << syntax.err;
}

// `cmake --install` of this build into `prefix`, as `make install PREFIX=...` does.
void install_to(const fs::path& prefix) {
  run_checked({SRB_CMAKE_COMMAND, "--install", kBuildDir.string(), "--prefix", prefix.string()});
}

TEST(Install, PutsEveryFileInItsPlace) {
  if (kSanitizerBuild) GTEST_SKIP() << "installation is checked in the plain build";
  TempDir prefix;
  install_to(prefix.path());
  const fs::path lib = SRB_INSTALL_LIBDIR;
  for (const fs::path& file :
       {fs::path("bin/sarn-runtime-bundle"), fs::path("share/man/man1/sarn-runtime-bundle.1"),
        fs::path("share/bash-completion/completions/sarn-runtime-bundle"),
        fs::path("share/zsh/vendor-completions/_sarn-runtime-bundle"),
        fs::path("share/fish/vendor_completions.d/sarn-runtime-bundle.fish"),
        fs::path("share/doc/sarn-runtime-bundle/bundle-format.md"),
        fs::path("share/doc/sarn-runtime-bundle/copyright"),
        fs::path("share/doc/sarn-runtime-bundle/library.md"),
        fs::path("share/doc/sarn-runtime-bundle/examples/launch.c"),
        fs::path("include/sarn_runtime_bundle/bundle.hpp"),
        fs::path("include/sarn_runtime_bundle/sarn_runtime_bundle.h"),
        lib / ("libsarn-runtime-bundle.so." + kLibraryVersion), lib / "libsarn-runtime-bundle.a",
        lib / "libsarn_runtime_bundle_blake3.a", lib / "pkgconfig/sarn-runtime-bundle.pc",
        lib / "cmake/SarnRuntimeBundle/SarnRuntimeBundleConfig.cmake",
        lib / "cmake/SarnRuntimeBundle/SarnRuntimeBundleConfigVersion.cmake",
        lib / "cmake/SarnRuntimeBundle/SarnRuntimeBundleTargets.cmake"}) {
    EXPECT_TRUE(fs::is_regular_file(prefix / file)) << file;
  }
  // The Debian changelog and lintian's overrides are the packages' alone, and so are the
  // library packages' copies of the licence.
  EXPECT_FALSE(fs::exists(prefix / "share/doc/sarn-runtime-bundle/changelog"));
  EXPECT_FALSE(fs::exists(prefix / "share/lintian"));
  for (const char* package : {"libsarn-runtime-bundle1", "libsarn-runtime-bundle-dev"})
    EXPECT_FALSE(fs::exists(prefix / "share/doc" / package)) << package;
  EXPECT_EQ(fs::read_symlink(prefix / lib / "libsarn-runtime-bundle.so.1"),
            "libsarn-runtime-bundle.so." + kLibraryVersion);
  EXPECT_EQ(fs::read_symlink(prefix / lib / "libsarn-runtime-bundle.so"),
            "libsarn-runtime-bundle.so.1");
  // Only the public headers: none of the tool's own from src/.
  for (const char* internal : {"core", "verify", "build", "cli"})
    EXPECT_FALSE(fs::exists(prefix / "include/sarn_runtime_bundle" / internal)) << internal;
  EXPECT_EQ(read_file(prefix / "share/bash-completion/completions/sarn-runtime-bundle"),
            read_file(kDocsDir / "sarn-runtime-bundle.bash"));
  const ProcessResult installed = run_checked(
      {(prefix / "bin/sarn-runtime-bundle").string(), "path", "--system", "--version", "1.0"});
  EXPECT_EQ(installed.out, "/usr/lib/sarn-runtime/1.0\n");
}

fs::path only_package(const fs::path& dir, const std::string& name) {
  for (const fs::directory_entry& entry : fs::directory_iterator(dir))
    if (entry.path().filename().string().starts_with(name + "_") &&
        entry.path().extension() == ".deb")
      return entry.path();
  ADD_FAILURE() << "no package " << name << " in " << dir;
  return {};
}

// The three Debian packages, made once with cpack from this build and unpacked, for every test of
// what they hold.
class Package : public ::testing::Test {
 protected:
  struct Unpacked {
    std::string name;
    fs::path deb;
    fs::path root;
  };

  static void SetUpTestSuite() {
    if (kSanitizerBuild) return;
    dir_ = new TempDir;
    run_checked({SRB_CPACK_COMMAND, "--config", (kBuildDir / "CPackConfig.cmake").string(), "-B",
                 (*dir_ / "packages").string()},
                in_directory(kBuildDir));
    for (const char* name :
         {"sarn-runtime-bundle", "libsarn-runtime-bundle1", "libsarn-runtime-bundle-dev"}) {
      packages_.push_back({name, only_package(*dir_ / "packages", name), *dir_ / name});
      run_checked({"dpkg", "-x", packages_.back().deb.string(), packages_.back().root.string()});
    }
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
    packages_.clear();
  }
  void SetUp() override {
    if (kSanitizerBuild) GTEST_SKIP() << "packaging is checked in the plain build";
    ASSERT_EQ(packages_.size(), 3u) << "the packages could not be made";
  }

  static const Unpacked& tool_package() { return packages_[0]; }
  static const Unpacked& library_package() { return packages_[1]; }
  static const Unpacked& dev_package() { return packages_[2]; }
  static fs::path multiarch() { return fs::path("usr") / SRB_INSTALL_LIBDIR; }

  static inline TempDir* dir_ = nullptr;
  static inline std::vector<Unpacked> packages_;
};

// Each package carries the licence and the changelog of the source all three are built from,
// whose latest entry is the packaged version, and lintian finds nothing the package does not
// override with its reason (it warns on standard error when run as root).
TEST_F(Package, EachCarriesTheLicenceAndChangelogAndPassesLintian) {
  std::string version = run_checked({"dpkg-deb", "-f", tool_package().deb.string(), "Version"}).out;
  version.pop_back();
  for (const Unpacked& package : packages_) {
    SCOPED_TRACE(package.name);
    const fs::path doc = package.root / "usr/share/doc" / package.name;
    ASSERT_TRUE(fs::is_regular_file(doc / "copyright"));
    EXPECT_EQ(read_file(doc / "copyright"), read_file(kSourceDir / "packaging/copyright"));
    const ProcessResult changelog = run_checked(
        {"sh", "-c", "gzip -dc \"$1\" | head -n 1", "sh", (doc / "changelog.gz").string()});
    EXPECT_EQ(changelog.out, "sarn-runtime-bundle (" + version + ") unstable; urgency=medium\n");
    EXPECT_EQ(run_checked({"dpkg-deb", "-f", package.deb.string(), "Source"}).out,
              "sarn-runtime-bundle\n");
    const ProcessResult lintian = run_process({"lintian", package.deb.string()});
    EXPECT_EQ(lintian.out, "");
    EXPECT_EQ(lintian.status, 0) << lintian.err;
  }
}

// libcrypto is the system's, so OpenSSL's security updates reach the tool, and loaded only when
// a key or signature needs it, so the package names libssl3 itself; libstdc++ and toml++ are
// compiled in. dpkg-shlibdeps finds libc6, and the unpacked tool runs as it is.
TEST_F(Package, ToolDependsOnLibcAndLibsslAloneAndRunsAsUnpacked) {
  const std::string depends =
      run_checked({"dpkg-deb", "-f", tool_package().deb.string(), "Depends"}).out;
  for (const char* package : {"libc6", "libssl3"})
    EXPECT_NE(depends.find(package), std::string::npos) << package << " not in " << depends;
  for (const char* package : {"libstdc++6", "libgcc-s1", "libtomlplusplus3"})
    EXPECT_EQ(depends.find(package), std::string::npos) << package << " in " << depends;
  const fs::path tool = tool_package().root / "usr/bin/sarn-runtime-bundle";
  const ProcessResult help = run_checked({tool.string(), "--help"});
  EXPECT_TRUE(help.out.starts_with("Produce and verify Sarn runtime bundles.\n")) << help.out;
  const std::string symbols = run_checked({"readelf", "--sections", "--wide", tool.string()}).out;
  EXPECT_EQ(symbols.find(".symtab"), std::string::npos) << "the packaged binary is not stripped";
  const std::string libraries = run_checked({"readelf", "--dynamic", tool.string()}).out;
  EXPECT_EQ(libraries.find("libcrypto"), std::string::npos) << libraries;
  for (const char* file : {"usr/share/bash-completion/completions/sarn-runtime-bundle",
                           "usr/share/zsh/vendor-completions/_sarn-runtime-bundle",
                           "usr/share/fish/vendor_completions.d/sarn-runtime-bundle.fish",
                           "usr/share/doc/sarn-runtime-bundle/bundle-format.md"})
    EXPECT_TRUE(fs::is_regular_file(tool_package().root / file)) << file;
  if (has_program("man")) {
    RunOptions plain;
    plain.env = {"PATH=/usr/bin:/bin", "MANPAGER=cat", "MANWIDTH=80"};
    const ProcessResult page = run_checked(
        {"man", "-l",
         (tool_package().root / "usr/share/man/man1/sarn-runtime-bundle.1.gz").string()},
        plain);
    EXPECT_NE(page.out.find("key generate"), std::string::npos);
  }
}

// The shared library in its own package under its SONAME, in the multiarch directory, with the
// shlibs entry and symbols file that make programs built against it depend on it, and dpkg's
// ldconfig trigger in place of maintainer scripts that run ldconfig themselves.
TEST_F(Package, LibraryLiesUnderItsSonameWithItsSymbols) {
  const fs::path library_dir = library_package().root / multiarch();
  const fs::path library = library_dir / ("libsarn-runtime-bundle.so." + kLibraryVersion);
  EXPECT_TRUE(fs::is_regular_file(library));
  EXPECT_TRUE(fs::is_symlink(library_dir / "libsarn-runtime-bundle.so.1"));
  EXPECT_FALSE(fs::exists(library_dir / "libsarn-runtime-bundle.so"));
  const std::string library_depends =
      run_checked({"dpkg-deb", "-f", library_package().deb.string(), "Depends"}).out;
  EXPECT_NE(library_depends.find("libssl3"), std::string::npos) << library_depends;
  const std::string library_needs = run_checked({"readelf", "--dynamic", library.string()}).out;
  EXPECT_EQ(library_needs.find("libcrypto"), std::string::npos) << library_needs;
  const fs::path control = *dir_ / "library-control";
  run_checked({"dpkg-deb", "-e", library_package().deb.string(), control.string()});
  EXPECT_TRUE(read_file(control / "shlibs").starts_with("libsarn-runtime-bundle 1 "));
  EXPECT_EQ(read_file(control / "symbols"), read_file(kSourceDir / "packaging/symbols"));
  EXPECT_EQ(read_file(control / "triggers"), "activate-noawait ldconfig\n");
  EXPECT_FALSE(fs::exists(control / "postinst"));
  EXPECT_FALSE(fs::exists(control / "postrm"));
}

// The development files name no library that the shared library keeps private. They depend on
// the package that holds the libstdc++ a C program's link of the static archive finds, and carry
// the guide, the examples and the library's manual page.
TEST_F(Package, DevelopmentFilesCarryTheGuideAndWhatAStaticLinkNeeds) {
  const std::string cxx_runtime = run_checked({"cc", "-print-file-name=libstdc++.so"}).out;
  const std::string owner =
      run_checked({"dpkg-query", "-S", cxx_runtime.substr(0, cxx_runtime.size() - 1)}).out;
  EXPECT_EQ(run_checked({"dpkg-deb", "-f", dev_package().deb.string(), "Depends"}).out,
            "libsarn-runtime-bundle1 (= " + kLibraryVersion + "), " +
                owner.substr(0, owner.find(':')) + "\n");
  const fs::path dev_doc = dev_package().root / "usr/share/doc/libsarn-runtime-bundle-dev";
  EXPECT_EQ(read_file(dev_doc / "library.md"), read_file(kSourceDir / "docs/library.md"));
  for (const fs::directory_entry& example : fs::directory_iterator(kSourceDir / "examples")) {
    SCOPED_TRACE(example.path().filename().string());
    EXPECT_EQ(read_file(dev_doc / "examples" / example.path().filename()),
              read_file(example.path()));
  }
  for (const fs::path& file :
       {fs::path("usr/include/sarn_runtime_bundle/bundle.hpp"),
        fs::path("usr/include/sarn_runtime_bundle/sarn_runtime_bundle.h"),
        fs::path("usr/share/man/man3/sarn_runtime_bundle.3.gz"),
        multiarch() / "libsarn-runtime-bundle.a", multiarch() / "pkgconfig/sarn-runtime-bundle.pc",
        multiarch() / "cmake/SarnRuntimeBundle/SarnRuntimeBundleConfig.cmake"})
    EXPECT_TRUE(fs::is_regular_file(dev_package().root / file)) << file;
  EXPECT_TRUE(fs::is_symlink(dev_package().root / multiarch() / "libsarn-runtime-bundle.so"));
  const std::string config = read_file(dev_package().root / multiarch() /
                                       "cmake/SarnRuntimeBundle/SarnRuntimeBundleConfig.cmake");
  for (const char* private_dependency : {"CLI11", "nlohmann", "tomlplusplus"})
    EXPECT_EQ(config.find(private_dependency), std::string::npos) << private_dependency;
  EXPECT_FALSE(fs::exists(dev_package().root / "usr/bin"));
}

// The worked example of the format document is the output of the script that builds it.
TEST(FormatDocument, WorkedExampleIsWhatTheScriptPrintsNow) {
  const ProcessResult printed = run_checked(
      {"bash", (kSourceDir / "scripts/bundle-format-example").string(), tool_path().string()});
  const std::string doc = read_file(kSourceDir / "docs/bundle-format.md");
  const std::size_t begin = doc.find("\n<!-- begin generated example");
  const std::size_t end = doc.find("<!-- end generated example -->\n");
  ASSERT_NE(begin, std::string::npos);
  ASSERT_NE(end, std::string::npos);
  EXPECT_EQ(doc.substr(begin + 1, end + 31 - begin - 1), printed.out);
}

}  // namespace
}  // namespace srb::test
