/* The installer's last step: tells Explorer that file associations changed,
   as registering the DLL does, once the package has written or removed the
   handler's keys. Without it Explorer may keep asking its old handler (or
   none) until it restarts. The package runs it from its Binary table, so it
   works at removal too, when the installed programs are gone already. */
#include <windows.h>
#include <msi.h>
#include <shlobj.h>

/* A custom action's entry point; what it returns is never acted on (the
   package ignores it), so the notification cannot fail an installation. */
__declspec(dllexport) UINT WINAPI NotifyShell(MSIHANDLE install) {
  (void)install;
  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, NULL, NULL);
  return ERROR_SUCCESS;
}
