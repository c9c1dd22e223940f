#pragma once
// Role-based access of the platform. Roles and levels come from $NXROOT/cfg/rbac.ini:
//
//   [Users]                 ; login name = role name
//   op1 = Dispatcher
//   [Descriptions]          ; optional: login name = description of the user
//   op1 = Line 3 dispatcher
//   [Levels]                ; role name = three levels, comma separated; the second is PTZ
//   Dispatcher = 1,3,0
//
// The logged-in user is $NX_USER, else the login name of the process. A user not listed has no
// role; a role not listed has the levels 0, 0, 0.
#ifdef __cplusplus
extern "C" {
#endif

#define RBAC_TEXT_SIZE 256 /* every text output must hold this many bytes */

int RBAC_Initialize(void);
int AOJ_Initialize(void);
/* Any output may be null. Texts are cut to RBAC_TEXT_SIZE - 1 bytes. 1 when the user is known. */
int RBAC_GetUserRoleDescription(char* userName, char* userDescription, int reserved,
                                char* roleName);
/* levels receives three integers; unknown role: 0, 0, 0 and result 0. */
int RBAC_GetRolePLevel(const char* roleName, int* levels);

#ifdef __cplusplus
}
#endif
