// srb_generate_docs OUT_DIR VERSION: writes the man page and the bash, zsh and fish completions
// of sarn-runtime-bundle into OUT_DIR, from the command tree the program parses with.

#include <fstream>
#include <iostream>
#include <string>

#include "cli/command_tree.hpp"
#include "packaging/command_docs.hpp"
#include "packaging/render_docs.hpp"

namespace {

bool write_text(const std::string& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << text;
  file.close();
  if (file) return true;
  std::cerr << "srb_generate_docs: cannot write " << path << '\n';
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: srb_generate_docs OUT_DIR VERSION\n";
    return 2;
  }
  const std::string dir = argv[1];
  const srb::CommandTree tree("sarn-runtime-bundle");
  const std::vector<srb::DocCommand> commands = srb::describe_commands(tree);
  const bool written =
      write_text(dir + "/sarn-runtime-bundle.1", srb::render_man_page(commands, argv[2])) &&
      write_text(dir + "/sarn-runtime-bundle.bash", srb::render_bash_completion(commands)) &&
      write_text(dir + "/_sarn-runtime-bundle", srb::render_zsh_completion(commands)) &&
      write_text(dir + "/sarn-runtime-bundle.fish", srb::render_fish_completion(commands));
  return written ? 0 : 1;
}
