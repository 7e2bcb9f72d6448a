// SPDX-License-Identifier: MIT
/*
 * libUsrgate: the QORVANE suite's user-rights library on Linux.
 *
 * It checks a user's name and password against the suite's user store (see docs/users.md) and delivers the
 * user's right codes. Programs load it by name when they need it (dlopen) and look the entries up by name;
 * every entry is optional to them. Call order: UGT_Initialize, then UGT_LoginDlg and UGT_VerifyUsrPwdReadAuths
 * as needed, then UGT_Finalize. Texts are GBK (code page 936) bytes. Entries serialise among themselves;
 * UGT_LoginDlg must run on the thread of the program's QApplication.
 */
#ifndef USRGATE_H
#define USRGATE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define UGT_OK 0
#define UGT_CANCELLED 1 /* the login dialog was cancelled */
#define UGT_INVALID 2 /* user name or password wrong */
#define UGT_ERR_STORE_MISSING (-1) /* the user store file does not exist */
#define UGT_ERR_STORE_UNREADABLE (-2) /* the user store cannot be read */
#define UGT_ERR_STORE_MALFORMED (-3) /* the user store is not a well-formed store; it is left untouched */
#define UGT_ERR_ARGUMENT (-4) /* a NULL pointer, a negative size or capacity, an unknown mode */
#define UGT_ERR_NOT_INIT (-5) /* UGT_Initialize has not succeeded */
#define UGT_ERR_NO_GUI (-6) /* no QApplication, or not on its thread: no dialog can be shown */
#define UGT_ERR_TOO_LONG (-7) /* what was entered does not fit the caller's buffer */

#define UGT_MODE_CLIENT 2 /* the only mode: a client program checks a user on this computer */

/* Opens the user store at storePath (file-system bytes, or GBK; NULL or "" = CfgCache/Client/client_zqv.cfg.cah in
 * the suite's working directory). 0 = ready: the store exists, is readable and well-formed. The store is never created
 * or changed. */
int32_t UGT_Initialize(int32_t mode, const char* storePath);

/* Shows the suite's login dialog modally. 0 = credentials entered: userName and password hold them (GBK,
 * NUL-terminated, the rest of each buffer zeroed). A text that does not fit its buffer with the NUL is refused
 * (UGT_ERR_TOO_LONG), never cut, so a cut password can never be checked in place of the real one. Any other
 * result: nothing entered, both buffers emptied. reserved is ignored. */
int32_t UGT_LoginDlg(int32_t reserved, char* userName, int32_t userSize, char* password, int32_t passwordSize);

/* Verifies userName and password (GBK, NUL-terminated) against the store, in constant time whether or not the
 * user exists. In: *count = capacity of rights. 0 = valid: the first min(rights held, capacity) right codes are in
 * rights and *count says how many. Otherwise *count = 0. *reserved (when not NULL) becomes 1 when valid, else 0. */
int32_t UGT_VerifyUsrPwdReadAuths(
    const char* userName, const char* password, uint8_t* reserved, int32_t* rights, int32_t* count);

/* Ends the session: forgets the store path and wipes what the library held. */
void UGT_Finalize(void);

#ifdef __cplusplus
}
#endif

#endif
