#pragma once
// The polkit action through which pkexec runs the loader as root. pkexec takes an action for a
// program only when the action's org.freedesktop.policykit.exec.path names exactly the path it
// is asked to run, and polkit reads actions only from its own folder: a loader that no action
// there names (installed under another prefix, or run from its build folder) would have pkexec
// ask for the administrator's password under its generic action and then run the loader as
// root without the display, which helps nobody. The loader therefore looks first.
#include <cstddef>
#include <string>
#include <string_view>

// Where polkit reads actions from, and the id of the action the installation puts there (in
// <id>.policy, see packaging/).
constexpr char kPolkitActionsDir[] = "/usr/share/polkit-1/actions/";
constexpr char kPolkitActionId[] = "org.brulin.pkexec.brulin";
// The environment variable that names another folder of actions (tests, a stand-in pkexec).
constexpr char kPolkitActionsVariable[] = "BRULIN_POLKIT_ACTIONS_DIR";
// The largest action file read.
constexpr std::size_t kPolkitActionFileMax = 1 << 20;

// The program that the action `actionId` of a policy file's text names in its
// org.freedesktop.policykit.exec.path annotation (entities decoded, the blanks around it
// dropped); empty when the text holds no such action or the action names no program. Any bytes.
std::string PolkitActionProgram(std::string_view policy, std::string_view actionId);

// Why pkexec would not run `loaderPath` (absolute) through kPolkitActionId as the action file in
// `actionsDir` (a folder, ending in '/' or not) has it: empty when that action names exactly
// `loaderPath`, else the reason, beginning "no polkit action names <loaderPath>: ", then what
// is wrong with the file (missing, unreadable, naming another program or none), then where the
// loader lies: its build folder (its resources lie beside it, platform::FindResourceDir), or
// the prefix it is installed under.
std::string PolkitActionMismatch(const std::string& loaderPath, const std::string& actionsDir);
