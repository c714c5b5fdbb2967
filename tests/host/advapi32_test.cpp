// The host's service control manager and registry: the Windows behaviour Svcsweep relies on.
#include "fixture.h"

#include "winapi.h"

namespace {

const char* const Services = "SYSTEM\\CurrentControlSet\\Services";

}  // namespace

class ServiceManager : public MachineTest {};

TEST_F(ServiceManager, DeletedServiceStaysMarkedUntilItsLastHandleCloses)
{
    host::CurrentMachine().services.Add("androidusb");
    host::CurrentMachine().registry.AddKey("SYSTEM\\CurrentControlSet\\Services\\androidusb\\Enum");
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, nullptr);
    SC_HANDLE first = OpenServiceA(manager, "AndroidUSB", DELETE);
    SC_HANDLE second = OpenServiceA(manager, "androidusb", SERVICE_QUERY_STATUS);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);

    EXPECT_TRUE(DeleteService(first));
    EXPECT_FALSE(DeleteService(first));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
    EXPECT_TRUE(CloseServiceHandle(first));
    EXPECT_TRUE(host::CurrentMachine().services.Has("androidusb"));
    EXPECT_TRUE(host::CurrentMachine().registry.HasKey("SYSTEM\\CurrentControlSet\\Services\\androidusb"));

    // The last handle takes the service and its whole key with it.
    EXPECT_TRUE(CloseServiceHandle(second));
    EXPECT_FALSE(host::CurrentMachine().services.Has("androidusb"));
    EXPECT_FALSE(host::CurrentMachine().registry.HasKey("SYSTEM\\CurrentControlSet\\Services\\androidusb"));
    EXPECT_EQ(OpenServiceA(manager, "androidusb", DELETE), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));

    EXPECT_TRUE(CloseServiceHandle(manager));
    EXPECT_FALSE(CloseServiceHandle(manager));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(m().OpenHandles("service") + m().OpenHandles("scmanager"), 0);
}

TEST_F(ServiceManager, HandlesGrantOnlyTheRightsTheyWereOpenedWith)
{
    host::CurrentMachine().services.Add("x");
    SC_HANDLE bare = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE);
    EXPECT_EQ(OpenServiceA(bare, "x", DELETE), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    SC_HANDLE manager = OpenSCManagerA(nullptr, SERVICES_ACTIVE_DATABASEA, SC_MANAGER_CONNECT);
    SC_HANDLE query = OpenServiceA(manager, "x", SERVICE_QUERY_CONFIG);
    EXPECT_FALSE(DeleteService(query));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(DeleteService(manager));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(OpenServiceA(query, "x", DELETE), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    // A user may connect and query, not more.
    host::CurrentMachine().account.administrator = false;
    EXPECT_EQ(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    SC_HANDLE user = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    EXPECT_EQ(OpenServiceA(user, "x", STANDARD_RIGHTS_REQUIRED | SERVICE_QUERY_STATUS), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    for (SC_HANDLE handle : {bare, query, manager, user}) EXPECT_TRUE(CloseServiceHandle(handle));
}

class RegistryCalls : public MachineTest {};

TEST_F(RegistryCalls, DeleteKeyRefusesSubkeysAndShDeleteKeyTakesTheSubtree)
{
    host::CurrentMachine().registry.SetValue("SYSTEM\\CurrentControlSet\\Services\\a\\Enum\\Root", "Count", "1");
    host::CurrentMachine().registry.SetValue("SYSTEM\\CurrentControlSet\\Services\\b", "Start", "3");
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "system\\currentcontrolset\\services\\A"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\missing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\b"),
              ERROR_SUCCESS);  // values only

    HKEY enumKey = nullptr;
    ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\a\\Enum", &enumKey), ERROR_SUCCESS);
    EXPECT_EQ(SHDeleteKeyA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\a"),
              static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(host::CurrentMachine().registry.Subkeys(Services), std::vector<std::string>{});
    EXPECT_EQ(SHDeleteKeyA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\a"),
              static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    // A handle outlives its key; the key is gone for it too.
    HKEY stale = nullptr;
    EXPECT_EQ(RegOpenKeyA(enumKey, "Root", &stale), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(enumKey), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(enumKey), ERROR_INVALID_HANDLE);
    EXPECT_EQ(m().OpenHandles("hkey"), 0);
}

TEST_F(RegistryCalls, ShDeleteKeyStopsAtAKeyThatRefusesDeletion)
{
    host::CurrentMachine().registry.AddKey("SYSTEM\\CurrentControlSet\\Services\\a\\1");
    host::CurrentMachine().registry.DenyDelete("SYSTEM\\CurrentControlSet\\Services\\a\\2");
    EXPECT_EQ(SHDeleteKeyA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\a"),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
    // What went before the refusal stays deleted.
    EXPECT_EQ(host::CurrentMachine().registry.Subkeys("SYSTEM\\CurrentControlSet\\Services\\a"),
              std::vector<std::string>{"2"});
}

TEST_F(RegistryCalls, AnEmptyServiceNameNamesTheServicesKeyItself)
{
    // Why Svcsweep refuses an empty name: the key path then ends in the Services key, and
    // the recursive deletion takes every service's configuration.
    host::CurrentMachine().registry.AddKey("SYSTEM\\CurrentControlSet\\Services\\usbhub\\Enum");
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(SHDeleteKeyA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\"),
              static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_FALSE(host::CurrentMachine().registry.HasKey(Services));
    EXPECT_TRUE(host::CurrentMachine().registry.HasKey("SYSTEM\\CurrentControlSet"));
}
