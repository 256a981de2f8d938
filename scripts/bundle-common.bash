# What scripts/bundle-deb and scripts/bundle-oci share: their options, the check of the bundle
# they ship, the facts they read from it, and the tree they stage it in. Sourced, not run; the
# sourcing script sets `program` (its name in messages) and `usage` first.

# Byte-wise ranges and sorting: in some locales [a-z] also matches upper-case letters.
export LC_ALL=C

die() {
  echo "$program: $*" >&2
  exit 1
}

usage_error() {
  echo "$program: $*" >&2
  echo "usage: $usage" >&2
  exit 2
}

# Options both scripts take; the sourcing script's own options come back in `rest`.
tool=
publisher=
rest=()
parse_common_options() {
  while (($#)); do
    case "$1" in
      --tool) (($# >= 2)) || usage_error "--tool needs a value"; tool=$2; shift 2 ;;
      --tool=*) tool=${1#*=}; shift ;;
      --require-publisher) (($# >= 2)) || usage_error "--require-publisher needs a value"
                           publisher=$2; shift 2 ;;
      --require-publisher=*) publisher=${1#*=}; shift ;;
      -h|--help) echo "usage: $usage"; exit 0 ;;
      *) rest+=("$1"); shift ;;
    esac
  done
  if [[ -z $tool ]]; then
    # The installed tool, else this checkout's build.
    tool=$(command -v sarn-runtime-bundle || true)
    [[ -n $tool ]] || tool=$(dirname "${BASH_SOURCE[0]}")/../build/sarn-runtime-bundle
  fi
  [[ -x $tool ]] || die "no executable tool at $tool (pass --tool PATH, or build it: make build)"
  # The publisher lands in a maintainer script and in verify's command line as one word: the
  # key exactly as `key pubkey` prints it, 32 bytes in hexadecimal.
  if [[ -n $publisher && ! $publisher =~ ^[0-9a-fA-F]{64}$ ]]; then
    die "--require-publisher takes the publisher's key as 64 hexadecimal digits, as \`key pubkey\` prints it, not '$publisher'"
  fi
}

# Verifies DIR (with the publisher pinned when one was given) and sets bundle_version,
# bundle_arch, bundle_root_hash and bundle_publisher from verify's summary.
verify_bundle_dir() {
  local dir=$1 summary
  local args=(verify)
  [[ -z $publisher ]] || args+=(--require-publisher "$publisher")
  summary=$("$tool" "${args[@]}" -- "$dir") || die "the bundle at $dir does not verify"
  summary_field() { printf '%s\n' "$summary" | sed -n "s/^  $1 *: //p"; }
  bundle_version=$(summary_field version)
  bundle_arch=$(summary_field arch)
  bundle_root_hash=$(summary_field root-hash)
  bundle_publisher=$(summary_field publisher)
}

# Sets bundle_produced_at from bundle.toml, 0 when the manifest has none, as verify reads it.
# The tool writes it as `produced_at = SECONDS` among the lines before the first table; any
# other spelling is refused rather than guessed at.
read_produced_at() {
  local dir=$1
  bundle_produced_at=$(awk '
    /^[ \t]*\[/ { exit }
    /produced_at/ {
      if (match($0, /^[ \t]*produced_at[ \t]*=[ \t]*[0-9]+[ \t]*(#.*)?$/)) {
        sub(/^[^=]*=[ \t]*/, ""); sub(/[ \t]*(#.*)?$/, ""); print
      } else print "?"
      exit
    }' "$dir/bundle.toml")
  [[ -n $bundle_produced_at ]] || bundle_produced_at=0
  [[ $bundle_produced_at =~ ^[0-9]+$ ]] ||
    die "cannot read produced_at in $dir/bundle.toml: expected a line 'produced_at = SECONDS' before the file list"
}

# The tag names the bundle's directory: one file name, never "." or "..". The summary shows
# control characters and a backslash escaped and bytes that are not UTF-8 replaced, so only
# printable ASCII is taken as it stands.
check_tag_is_a_file_name() {
  local tag=$1
  [[ -n $tag && $tag != . && $tag != .. && $tag =~ ^[!-~]+$ && $tag != */* && $tag != *\\* ]] ||
    die "the bundle's version tag '$tag' cannot name a directory: it must be printable ASCII without blanks, '/' or '\\', and not '.' or '..'"
}

# The Debian and OCI name of the manifest's architecture. The manifest uses the GNU names; the
# pairs are the rows of dpkg's cputable (/usr/share/dpkg/cputable) for the architectures the
# tool builds, and OCI uses the same names as Debian for both.
debian_arch_of() {
  case "$1" in
    x86_64) echo amd64 ;;
    aarch64) echo arm64 ;;
    *) die "no Debian architecture is known for the bundle's arch '$1' (known: x86_64, aarch64)" ;;
  esac
}

# The time every staged entry gets: SOURCE_DATE_EPOCH when set, else the bundle's production
# time, so the same bundle stages identically without either being set by hand.
staging_epoch() {
  if [[ -n ${SOURCE_DATE_EPOCH:-} ]]; then
    [[ $SOURCE_DATE_EPOCH =~ ^[0-9]+$ ]] || die "SOURCE_DATE_EPOCH is not a number of seconds: '$SOURCE_DATE_EPOCH'"
    echo "$SOURCE_DATE_EPOCH"
  else
    echo "$bundle_produced_at"
  fi
}

# Copies the bundle at SOURCE into the new directory TARGET byte for byte, then gives the
# copy the modes a package or an image ships: directories 0755, files 0755 when the bundle has
# them executable by anyone and 0644 otherwise. Nothing a manifest digests is touched.
stage_bundle_copy() {
  local source=$1 target=$2
  mkdir -p "$target"
  cp -R -- "$source/." "$target/"
  find "$target" -type d -exec chmod 0755 {} +
  find "$target" -type f -perm /0111 -exec chmod 0755 {} +
  find "$target" -type f ! -perm /0111 -exec chmod 0644 {} +
}

# Sets the access and modification time of DIR and of everything below it, links included.
set_tree_times() {
  local dir=$1 epoch=$2
  find "$dir" -exec touch --no-dereference --date="@$epoch" {} +
}
