#include "bootstrap/run_environment.h"

#include <gtest/gtest.h>

#include <map>

#include "script/interpreter.h"
#include "script/test_host.h"
#include "script/test_script.h"

namespace kyt {
namespace {

using testing_support::make_payload;
using testing_support::RecordingHost;

RunEnvironment environment(bool administrator) {
  RunEnvironment e;
  e.engine_path = u"D:\\Downloads\\setup.exe";
  e.engine_folder = u"D:\\Downloads\\";
  e.temp_folder = u"C:\\Temp\\";
  e.support_folder = u"C:\\Temp\\kyt1\\";
  e.package_path = u"C:\\Temp\\kyt1\\setup.msi";
  e.data_folder = u"D:\\Downloads\\data\\";
  e.administrator = administrator;
  e.program_files = u"C:\\Program Files\\";
  e.documents_parent = u"C:\\Users\\me\\";
  e.common_app_data = u"C:\\ProgramData\\";
  e.local_app_data = u"C:\\Users\\me\\AppData\\Local\\";
  e.sfx_path = u"E:\\media\\outer.exe";
  e.registered_owner = u"Owner";
  return e;
}

// Runs a script that copies the variables it is given into V_<name>.
std::map<Text, Text> seen(const std::vector<TextView>& names, RunOptions options,
                          std::vector<testing_support::TestCommand> before = {}) {
  std::vector<testing_support::TestCommand> commands = before;
  for (TextView name : names) commands.push_back({u"Set Variable", {u"V_" + Text(name), u"$" + Text(name) + u"$"}});
  Payload payload = make_payload(commands);
  payload.cache_folder_guid = u"{CACE0000-0000-0000-0000-000000000000}";
  RecordingHost host;
  Variables variables;
  Session session;
  Interpreter interpreter(payload, variables, host, session, std::move(options));
  EXPECT_EQ(interpreter.run(), Interpreter::Outcome::finished) << to_utf8(interpreter.last_error_report());
  std::map<Text, Text> values;
  for (TextView name : names) values[Text(name)] = variables.value_of(u"V_" + Text(name));
  return values;
}

TEST(PredefinedVariables, FirstInstallationValues) {
  RunOptions options;
  options.environment = environment(true);
  auto v = seen({u"TARGETDIR", u"STARTMENU", u"ALLUSERS", u"PRODUCTCODE", u"REVISIONCODE", u"ENGINECACHE",
                 u"UNINSTALLLINK", u"DATADIR", u"MAINTENANCE", u"NEEDSUPGRADE", u"EXEDIR", u"SUPPORTDIR",
                 u"MSIFILE", u"SFXPATH", u"SFXFILE", u"SETUPPATH", u"USERNAME", u"NATIVE_ENGINE", u"FX"},
                options);
  EXPECT_EQ(v[u"TARGETDIR"], u"C:\\Program Files\\Demo\\");
  EXPECT_EQ(v[u"STARTMENU"], u"Demo");
  EXPECT_EQ(v[u"ALLUSERS"], u"TRUE");
  EXPECT_EQ(v[u"PRODUCTCODE"], u"{12345678-9ABC-DEF0-1234-56789ABCDEF0}");
  EXPECT_EQ(v[u"REVISIONCODE"], u"{CACE0000-0000-0000-0000-000000000000}");
  EXPECT_EQ(v[u"ENGINECACHE"], u"C:\\ProgramData\\{CACE0000-0000-0000-0000-000000000000}\\");
  EXPECT_EQ(v[u"UNINSTALLLINK"], u"C:\\ProgramData\\{CACE0000-0000-0000-0000-000000000000}\\setup.exe");
  EXPECT_EQ(v[u"DATADIR"], u"D:\\Downloads\\data\\");
  EXPECT_EQ(v[u"MAINTENANCE"], u"FALSE");
  EXPECT_EQ(v[u"NEEDSUPGRADE"], u"FALSE");
  EXPECT_EQ(v[u"SUPPORTDIR"], u"C:\\Temp\\kyt1\\");
  EXPECT_EQ(v[u"MSIFILE"], u"C:\\Temp\\kyt1\\setup.msi");
  EXPECT_EQ(v[u"SFXPATH"], u"E:\\media\\");
  EXPECT_EQ(v[u"SFXFILE"], u"outer.exe");
  EXPECT_EQ(v[u"SETUPPATH"], u"E:\\media\\");
  EXPECT_EQ(v[u"USERNAME"], u"Owner");
  EXPECT_EQ(v[u"NATIVE_ENGINE"], u"FALSE");
  EXPECT_EQ(v[u"FX"], u"SLIDE");
}

TEST(PredefinedVariables, StandardUserAndCacheFollowingAllUsersAndOverride) {
  RunOptions options;
  options.environment = environment(false);
  auto v = seen({u"TARGETDIR", u"ALLUSERS", u"ENGINECACHE"}, options);
  EXPECT_EQ(v[u"TARGETDIR"], u"C:\\Users\\me\\Demo\\");
  EXPECT_EQ(v[u"ALLUSERS"], u"FALSE");
  EXPECT_EQ(v[u"ENGINECACHE"], u"C:\\Users\\me\\AppData\\Local\\{CACE0000-0000-0000-0000-000000000000}\\");
  // The cache is recomputed every command from ALLUSERS and OVERRIDECACHE.
  v = seen({u"ENGINECACHE"}, options, {{u"Set Variable", {u"ALLUSERS", u"TRUE"}}});
  EXPECT_EQ(v[u"ENGINECACHE"], u"C:\\ProgramData\\{CACE0000-0000-0000-0000-000000000000}\\");
  v = seen({u"ENGINECACHE", u"UNINSTALLLINK"}, options, {{u"Set Variable", {u"OVERRIDECACHE", u"F:\\Cache"}}});
  EXPECT_EQ(v[u"ENGINECACHE"], u"F:\\Cache\\{CACE0000-0000-0000-0000-000000000000}\\");
  EXPECT_EQ(v[u"UNINSTALLLINK"], u"F:\\Cache\\{CACE0000-0000-0000-0000-000000000000}\\setup.exe");
}

// A cache root that cannot be made is dropped and the default stays; one
// that can is tried by making its folders, which go again.
TEST(PredefinedVariables, OverrideCacheIsTriedAndFallsBack) {
  for (bool can_be_made : {true, false}) {
    SCOPED_TRACE(can_be_made ? "can be made" : "cannot be made");
    Text root = can_be_made ? u"C:\\New\\Root" : u"C:\\blocked\\Root";
    Payload payload = make_payload({{u"Set Variable", {u"OVERRIDECACHE", root}},
                                    {u"Set Variable", {u"V_CACHE", u"$ENGINECACHE$"}},
                                    {u"Set Variable", {u"V_OVERRIDE", u"$OVERRIDECACHE$"}}});
    payload.cache_folder_guid = u"{CACE0000-0000-0000-0000-000000000000}";
    RecordingHost host;
    host.memory_machine.put_file(u"C:\\blocked", "a file where a folder would go");
    Variables variables;
    Session session;
    RunOptions options;
    options.environment = environment(false);
    Interpreter interpreter(payload, variables, host, session, std::move(options));
    ASSERT_EQ(interpreter.run(), Interpreter::Outcome::finished);
    if (can_be_made) {
      EXPECT_EQ(variables.value_of(u"V_OVERRIDE"), u"C:\\New\\Root\\");
      EXPECT_EQ(variables.value_of(u"V_CACHE"), u"C:\\New\\Root\\{CACE0000-0000-0000-0000-000000000000}\\");
    } else {
      EXPECT_EQ(variables.value_of(u"V_OVERRIDE"), u"");
      EXPECT_EQ(variables.value_of(u"V_CACHE"), u"C:\\Users\\me\\AppData\\Local\\{CACE0000-0000-0000-0000-000000000000}\\");
    }
    EXPECT_FALSE(host.memory_machine.is_folder(u"C:\\New")) << "the folders made for the test go again";
  }
}

TEST(PredefinedVariables, SetupPathFollowsItsSource) {
  RunOptions options;
  options.environment = environment(true);
  auto v = seen({u"SETUPPATH"}, options, {{u"Set Variable", {u"SFXPATH", u"G:\\moved\\"}}});
  EXPECT_EQ(v[u"SETUPPATH"], u"G:\\moved\\");
  options.environment.sfx_path.clear();
  options.environment.gpo_path = u"\\\\server\\share\\setup.exe";
  v = seen({u"SETUPPATH", u"GPOPATH"}, options);
  EXPECT_EQ(v[u"GPOPATH"], u"\\\\server\\share\\");
  EXPECT_EQ(v[u"SETUPPATH"], u"\\\\server\\share\\");
  // Command-line pairs override predefined values.
  options.command_line_pairs = {{u"TITLE", u"X"}};
  v = seen({u"TITLE"}, options);
  EXPECT_EQ(v[u"TITLE"], u"X");
}

}  // namespace
}  // namespace kyt
