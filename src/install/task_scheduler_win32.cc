// Scheduled tasks through the Task Scheduler's COM objects (ole32 and
// oleaut32 reached through the table of optional system functions, so the
// engine imports neither).
#include <windows.h>
#include <taskschd.h>

#include "install/machine_win32.h"
#include "system/com_win32.h"
#include "system/system_library_win32.h"

namespace kyt {

namespace {

// {0F87369F-A4E5-4CFC-BD3E-73E6154572DD} and {2FABA4C7-4DA9-4013-9697-20CC3FD40F85}
constexpr CLSID kTaskScheduler = {0x0f87369f, 0xa4e5, 0x4cfc, {0xbd, 0x3e, 0x73, 0xe6, 0x15, 0x45, 0x72, 0xdd}};
constexpr IID kTaskService = {0x2faba4c7, 0x4da9, 0x4013, {0x96, 0x97, 0x20, 0xcc, 0x3f, 0xd4, 0x0f, 0x85}};
constexpr IID kExecAction = {0x4c3d624d, 0xfd6b, 0x49a3, {0xb9, 0xb7, 0x09, 0xcb, 0x3c, 0xd3, 0xf0, 0x47}};

// Strings for COM calls.
class Bstr {
 public:
  explicit Bstr(const Text& text) {
    using AllocFn = BSTR(WINAPI*)(const OLECHAR*);
    if (auto alloc = system_function_as<AllocFn>(SystemFunction::SysAllocString))
      value_ = alloc(reinterpret_cast<const OLECHAR*>(text.c_str()));
  }
  ~Bstr() {
    using FreeFn = void(WINAPI*)(BSTR);
    if (auto release = system_function_as<FreeFn>(SystemFunction::SysFreeString); release && value_) release(value_);
  }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  operator BSTR() const { return value_; }

 private:
  BSTR value_ = nullptr;
};

VARIANT empty_variant() {
  VARIANT v;
  ZeroMemory(&v, sizeof(v));
  v.vt = VT_EMPTY;
  return v;
}

VARIANT text_variant(const Bstr& text) {
  VARIANT v = empty_variant();
  v.vt = VT_BSTR;
  v.bstrVal = text;
  return v;
}

// Runs `work` with the root task folder on this thread's COM apartment;
// the failure text, empty on success.
Text with_root_folder(Machine& machine, const std::function<HRESULT(ITaskService*, ITaskFolder*)>& work) {
  ComScope com(COINIT_MULTITHREADED);
  if (!com.available() || !system_function(SystemFunction::SysAllocString))
    return u"The Task Scheduler is not available.";
  HRESULT result = E_FAIL;
  {
    Com<ITaskService> service;
    Com<ITaskFolder> root;
    Bstr root_path(u"\\");
    result = com.create(kTaskScheduler, kTaskService, service.out_void());
    if (SUCCEEDED(result)) result = service->Connect(empty_variant(), empty_variant(), empty_variant(), empty_variant());
    if (SUCCEEDED(result)) result = service->GetFolder(root_path, root.out());
    if (SUCCEEDED(result)) result = work(service.get(), root.get());
  }
  if (SUCCEEDED(result)) return {};
  return machine.error_text(static_cast<uint32_t>(result));
}

HRESULT define_task(ITaskDefinition* definition, const TaskSettings& task) {
  HRESULT result = S_OK;
  if (!task.description.empty()) {
    Com<IRegistrationInfo> info;
    Bstr description(task.description);
    if (SUCCEEDED(definition->get_RegistrationInfo(info.out()))) info->put_Description(description);
  }
  {
    Com<IActionCollection> actions;
    Com<IAction> action;
    Com<IExecAction> exec;
    Bstr program(task.program), arguments(task.arguments), folder(task.folder);
    result = definition->get_Actions(actions.out());
    if (SUCCEEDED(result)) result = actions->Create(TASK_ACTION_EXEC, action.out());
    if (SUCCEEDED(result)) result = action->QueryInterface(kExecAction, exec.out_void());
    if (SUCCEEDED(result)) result = exec->put_Path(program);
    if (SUCCEEDED(result) && !task.arguments.empty()) result = exec->put_Arguments(arguments);
    if (SUCCEEDED(result) && !task.folder.empty()) result = exec->put_WorkingDirectory(folder);
    if (FAILED(result)) return result;
  }
  static const TASK_TRIGGER_TYPE2 kTriggers[] = {TASK_TRIGGER_LOGON, TASK_TRIGGER_BOOT, TASK_TRIGGER_TIME,
                                                 TASK_TRIGGER_DAILY, TASK_TRIGGER_WEEKLY};
  Com<ITriggerCollection> triggers;
  Com<ITrigger> trigger;
  result = definition->get_Triggers(triggers.out());
  if (SUCCEEDED(result))
    result = triggers->Create(kTriggers[task.trigger >= 0 && task.trigger <= 4 ? task.trigger : 0], trigger.out());
  if (SUCCEEDED(result) && !task.start.empty()) {
    Bstr start(task.start);
    result = trigger->put_StartBoundary(start);
  }
  return result;
}

}  // namespace

Text Win32Machine::schedule_task(const TaskSettings& task) {
  if (task.name.empty() || task.program.empty()) return u"A task needs a name and a program.";
  return with_root_folder(*this, [&](ITaskService* service, ITaskFolder* root) {
    Com<ITaskDefinition> definition;
    HRESULT result = service->NewTask(0, definition.out());
    if (SUCCEEDED(result)) result = define_task(definition.get(), task);
    if (FAILED(result)) return result;
    Bstr name(task.name), system_account(u"SYSTEM");
    VARIANT user = task.system ? text_variant(system_account) : empty_variant();
    Com<IRegisteredTask> registered;
    return root->RegisterTaskDefinition(name, definition.get(), TASK_CREATE_OR_UPDATE, user, empty_variant(),
                                        task.system ? TASK_LOGON_SERVICE_ACCOUNT : TASK_LOGON_INTERACTIVE_TOKEN,
                                        empty_variant(), registered.out());
  });
}

Text Win32Machine::delete_task(const Text& name) {
  return with_root_folder(*this, [&](ITaskService*, ITaskFolder* root) {
    Bstr task(name);
    return root->DeleteTask(task, 0);
  });
}

}  // namespace kyt
