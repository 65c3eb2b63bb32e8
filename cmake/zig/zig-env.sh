# Sourced by the wrappers beside it (c++, cc, ar, ranlib, windres): sets $zig, the pinned zig
# (PyPI's ziglang, version in VERSION, installed by scripts/setup.sh), and $target.
# INSTALLER_ZIG names another zig binary.
read -r version <"$(dirname "$0")/VERSION"
zig=${INSTALLER_ZIG:-/opt/installer-zig/ziglang-$version/ziglang/zig}
target=aarch64-windows-gnu
