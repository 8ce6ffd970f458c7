/*
 * Ras.h: the remote access client library's C interface.
 *
 * Every line library (librasapi-sim.so, librasapi-pppd.so, a test double)
 * exports the functions below under these names with C linkage; the program
 * finds them at run time by name (connection/hbRas.h) and never links a line
 * library directly.
 *
 * Records keep the platform's ANSI layouts, packed to 4 bytes, with 32-bit
 * handles and callback ids so that every record has the size the program
 * passes for its platform level (RASCONN 412/676/692/704, RASDIALPARAMS
 * 1052/1060, RASCONNSTATUS 160/288, RASCREDENTIALS 540, RASENTRYNAME 264/532,
 * RASENTRY 1796, RAS_STATS 60). Callers set dwSize to the size of the form
 * they use; a library accepts each listed size, fills only the fields inside
 * it and answers ERROR_INVALID_SIZE for any other.
 *
 * Texts are NUL-terminated byte strings (the entry names the program writes
 * are Windows-1250 bytes; libraries treat them as opaque bytes).
 *
 * Threads: RasDialA with a notifier returns at once; the notifier is then
 * called once per dial state, on a thread of the library's own, in order,
 * until RASCS_Connected or an error. The notifier gets no user pointer other
 * than the callback id of the dial parameters and the connection handle.
 */
#ifndef NEBRIN_PLATFORM_RAS_H
#define NEBRIN_PLATFORM_RAS_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Basic types -------------------------------------------------------- */

typedef uint32_t RAS_DWORD;
typedef int32_t RAS_BOOL;
typedef uint32_t HRASCONN; /* 0 = no connection */
typedef uint32_t RASCONNSTATE;

/* ---- Field lengths (text fields hold one more byte for the NUL) --------- */

#define RAS_MaxEntryName 256
#define RAS_MaxDeviceType 16
#define RAS_MaxDeviceName 128
#define RAS_MaxPhoneNumber 128
#define RAS_MaxCallbackNumber 128
#define RAS_MaxAreaCode 10
#define RAS_MaxPadType 32
#define RAS_MaxX25Address 200
#define RAS_MaxFacilities 200
#define RAS_MaxUserData 200
#define RAS_UNLEN 256
#define RAS_PWLEN 256
#define RAS_DNLEN 15
#define RAS_MAX_PATH 260

/* ---- Connection states (RASCONNSTATE) ------------------------------------ */

#define RASCS_OpenPort 0
#define RASCS_PortOpened 1
#define RASCS_ConnectDevice 2
#define RASCS_DeviceConnected 3
#define RASCS_AllDevicesConnected 4
#define RASCS_Authenticate 5
#define RASCS_AuthNotify 6
#define RASCS_AuthRetry 7
#define RASCS_AuthCallback 8
#define RASCS_AuthChangePassword 9
#define RASCS_AuthProject 10
#define RASCS_AuthLinkSpeed 11
#define RASCS_AuthAck 12
#define RASCS_ReAuthenticate 13
#define RASCS_Authenticated 14
#define RASCS_PrepareForCallback 15
#define RASCS_WaitForModemReset 16
#define RASCS_WaitForCallback 17
#define RASCS_Projected 18
#define RASCS_StartAuthentication 19
#define RASCS_CallbackComplete 20
#define RASCS_LogonNetwork 21
#define RASCS_SubEntryConnected 22
#define RASCS_SubEntryDisconnected 23
#define RASCS_PAUSED 0x1000
#define RASCS_Interactive 0x1000
#define RASCS_RetryAuthentication 0x1001
#define RASCS_CallbackSetByCaller 0x1002
#define RASCS_PasswordExpired 0x1003
#define RASCS_InvokeEapUI 0x1004
#define RASCS_DONE 0x2000
#define RASCS_Connected 0x2000
#define RASCS_Disconnected 0x2001

/* ---- Result codes -------------------------------------------------------- */

#define RAS_SUCCESS 0
#define RAS_ERROR_INVALID_HANDLE 6
#define RAS_ERROR_NOT_ENOUGH_MEMORY 8
#define RAS_ERROR_INVALID_PARAMETER 87
#define RAS_ERROR_INVALID_NAME 123
#define RAS_ERROR_ALREADY_EXISTS 183
#define RAS_PENDING 600
#define RAS_ERROR_INVALID_PORT_HANDLE 601
#define RAS_ERROR_PORT_ALREADY_OPEN 602
#define RAS_ERROR_BUFFER_TOO_SMALL 603
#define RAS_ERROR_WRONG_INFO_SPECIFIED 604
#define RAS_ERROR_PORT_NOT_CONNECTED 606
#define RAS_ERROR_DEVICE_DOES_NOT_EXIST 608
#define RAS_ERROR_PORT_NOT_AVAILABLE 615
#define RAS_ERROR_CANNOT_OPEN_PHONEBOOK 621
#define RAS_ERROR_CANNOT_LOAD_PHONEBOOK 622
#define RAS_ERROR_CANNOT_FIND_PHONEBOOK_ENTRY 623
#define RAS_ERROR_CANNOT_WRITE_PHONEBOOK 624
#define RAS_ERROR_DISCONNECTION 628
#define RAS_ERROR_REMOTE_DISCONNECTION 629
#define RAS_ERROR_INVALID_SIZE 632
#define RAS_ERROR_PORT_ALREADY_IN_USE 633
#define RAS_ERROR_ACCT_DISABLED 647
#define RAS_ERROR_PASSWD_EXPIRED 648
#define RAS_ERROR_NO_DIALIN_PERMISSION 649
#define RAS_ERROR_FROM_DEVICE 651
#define RAS_ERROR_LINE_BUSY 676
#define RAS_ERROR_NO_ANSWER 678
#define RAS_ERROR_NO_CARRIER 679
#define RAS_ERROR_AUTHENTICATION_FAILURE 691
#define RAS_ERROR_PPP_TIMEOUT 718
#define RAS_ERROR_DLL_NOT_FOUND 1157

/* ---- Flags and masks ----------------------------------------------------- */

#define RASCM_UserName 0x00000001u
#define RASCM_Password 0x00000002u
#define RASCM_Domain 0x00000004u

#define REN_User 0
#define REN_AllUsers 1

#define RASEO_RemoteDefaultGateway 0x00000010u
#define RASNP_Ip 0x00000004u

/* Message number passed as unMsg to the notifiers. */
#define RAS_WM_RASDIALEVENT 0xCCCDu

/* Notifier types of RasDialA. */
#define RAS_NOTIFIER_FUNC 0  /* RASDIALFUNC  */
#define RAS_NOTIFIER_FUNC1 1 /* RASDIALFUNC1 */
#define RAS_NOTIFIER_FUNC2 2 /* RASDIALFUNC2 */

/* ---- Records ------------------------------------------------------------- */

#pragma pack(push, 4)

typedef struct RasGuid {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
} RasGuid;

typedef struct RasLuid {
    uint32_t LowPart;
    int32_t HighPart;
} RasLuid;

typedef struct RasIpAddr {
    uint8_t a, b, c, d;
} RasIpAddr;

/* Dial parameters: 1052 bytes (without dwSubEntry and dwCallbackId) or 1060. */
typedef struct RASDIALPARAMSA {
    RAS_DWORD dwSize;
    char szEntryName[RAS_MaxEntryName + 1];
    char szPhoneNumber[RAS_MaxPhoneNumber + 1];
    char szCallbackNumber[RAS_MaxCallbackNumber + 1];
    char szUserName[RAS_UNLEN + 1];
    char szPassword[RAS_PWLEN + 1];
    char szDomain[RAS_DNLEN + 1];
    RAS_DWORD dwSubEntry;
    RAS_DWORD dwCallbackId;
} RASDIALPARAMSA;

/* Active connection: 412 (to szDeviceName), 676 (+ szPhonebook, dwSubEntry),
 * 692 (+ guidEntry) or 704 bytes (+ dwFlags, luid). */
typedef struct RASCONNA {
    RAS_DWORD dwSize;
    HRASCONN hrasconn;
    char szEntryName[RAS_MaxEntryName + 1];
    char szDeviceType[RAS_MaxDeviceType + 1];
    char szDeviceName[RAS_MaxDeviceName + 1];
    char szPhonebook[RAS_MAX_PATH];
    RAS_DWORD dwSubEntry;
    RasGuid guidEntry;
    RAS_DWORD dwFlags;
    RasLuid luid;
} RASCONNA;

/* Connection status: 160 (to szDeviceName) or 288 bytes (+ szPhoneNumber). */
typedef struct RASCONNSTATUSA {
    RAS_DWORD dwSize;
    RASCONNSTATE rasconnstate;
    RAS_DWORD dwError;
    char szDeviceType[RAS_MaxDeviceType + 1];
    char szDeviceName[RAS_MaxDeviceName + 1];
    char szPhoneNumber[RAS_MaxPhoneNumber + 1];
} RASCONNSTATUSA;

/* Stored credentials: 540 bytes. dwMask selects the fields (RASCM_*). */
typedef struct RASCREDENTIALSA {
    RAS_DWORD dwSize;
    RAS_DWORD dwMask;
    char szUserName[RAS_UNLEN + 1];
    char szPassword[RAS_PWLEN + 1];
    char szDomain[RAS_DNLEN + 1];
} RASCREDENTIALSA;

/* Phonebook entry name: 264 (name only) or 532 bytes (+ dwFlags, path). */
typedef struct RASENTRYNAMEA {
    RAS_DWORD dwSize;
    char szEntryName[RAS_MaxEntryName + 1];
    RAS_DWORD dwFlags; /* REN_User or REN_AllUsers */
    char szPhonebookPath[RAS_MAX_PATH + 1];
} RASENTRYNAMEA;

/* Phonebook entry properties in their 1796-byte form. */
typedef struct RASENTRYA {
    RAS_DWORD dwSize;
    RAS_DWORD dwfOptions;
    RAS_DWORD dwCountryID;
    RAS_DWORD dwCountryCode;
    char szAreaCode[RAS_MaxAreaCode + 1];
    char szLocalPhoneNumber[RAS_MaxPhoneNumber + 1];
    RAS_DWORD dwAlternateOffset;
    RasIpAddr ipaddr;
    RasIpAddr ipaddrDns;
    RasIpAddr ipaddrDnsAlt;
    RasIpAddr ipaddrWins;
    RasIpAddr ipaddrWinsAlt;
    RAS_DWORD dwFrameSize;
    RAS_DWORD dwfNetProtocols;
    RAS_DWORD dwFramingProtocol;
    char szScript[RAS_MAX_PATH];
    char szAutodialDll[RAS_MAX_PATH];
    char szAutodialFunc[RAS_MAX_PATH];
    char szDeviceType[RAS_MaxDeviceType + 1];
    char szDeviceName[RAS_MaxDeviceName + 1];
    char szX25PadType[RAS_MaxPadType + 1];
    char szX25Address[RAS_MaxX25Address + 1];
    char szX25Facilities[RAS_MaxFacilities + 1];
    char szX25UserData[RAS_MaxUserData + 1];
    RAS_DWORD dwChannels;
    RAS_DWORD dwReserved1;
    RAS_DWORD dwReserved2;
    RAS_DWORD dwSubEntries;
    RAS_DWORD dwDialMode;
    RAS_DWORD dwDialExtraPercent;
    RAS_DWORD dwDialExtraSampleSeconds;
    RAS_DWORD dwHangUpExtraPercent;
    RAS_DWORD dwHangUpExtraSampleSeconds;
    RAS_DWORD dwIdleDisconnectSeconds;
} RASENTRYA;

/* Connection or link statistics: 60 bytes. dwConnectDuration is in ms. */
typedef struct RAS_STATS {
    RAS_DWORD dwSize;
    RAS_DWORD dwBytesXmited;
    RAS_DWORD dwBytesRcved;
    RAS_DWORD dwFramesXmited;
    RAS_DWORD dwFramesRcved;
    RAS_DWORD dwCrcErr;
    RAS_DWORD dwTimeoutErr;
    RAS_DWORD dwAlignmentErr;
    RAS_DWORD dwHardwareOverrunErr;
    RAS_DWORD dwFramingErr;
    RAS_DWORD dwBufferOverrunErr;
    RAS_DWORD dwCompressionRatioIn;
    RAS_DWORD dwCompressionRatioOut;
    RAS_DWORD dwBps;
    RAS_DWORD dwConnectDuration;
} RAS_STATS;

#pragma pack(pop)

/* Sizes of the record forms, by field reach. */
#define RASDIALPARAMSA_SIZE_V0 1052u /* platform level 0 */
#define RASDIALPARAMSA_SIZE 1060u    /* levels 1..4 */
#define RASCONNA_SIZE_V0 412u        /* level 0 */
#define RASCONNA_SIZE_V1 676u        /* level 1 */
#define RASCONNA_SIZE_V2 692u        /* level 2 */
#define RASCONNA_SIZE 704u           /* levels 3, 4 */
#define RASCONNSTATUSA_SIZE_V0 160u  /* level 0 */
#define RASCONNSTATUSA_SIZE 288u     /* levels 1..4 */
#define RASCREDENTIALSA_SIZE 540u    /* levels 1..4 */
#define RASENTRYNAMEA_SIZE_V0 264u   /* levels 0, 1 */
#define RASENTRYNAMEA_SIZE 532u      /* levels 2..4 */
#define RASENTRYA_SIZE 1796u
#define RAS_STATS_SIZE 60u

#ifdef __cplusplus
#define NEBRIN_RAS_STATIC_ASSERT(c, m) static_assert(c, m)
#else
#define NEBRIN_RAS_STATIC_ASSERT(c, m) _Static_assert(c, m)
#endif
NEBRIN_RAS_STATIC_ASSERT(sizeof(RASDIALPARAMSA) == RASDIALPARAMSA_SIZE, "RASDIALPARAMSA");
NEBRIN_RAS_STATIC_ASSERT(offsetof(RASDIALPARAMSA, dwSubEntry) == RASDIALPARAMSA_SIZE_V0, "RASDIALPARAMSA v0");
NEBRIN_RAS_STATIC_ASSERT(sizeof(RASCONNA) == RASCONNA_SIZE, "RASCONNA");
NEBRIN_RAS_STATIC_ASSERT(offsetof(RASCONNA, dwSubEntry) + 4 == RASCONNA_SIZE_V1, "RASCONNA v1");
NEBRIN_RAS_STATIC_ASSERT(offsetof(RASCONNA, dwFlags) == RASCONNA_SIZE_V2, "RASCONNA v2");
NEBRIN_RAS_STATIC_ASSERT((offsetof(RASCONNA, szPhonebook) + 3) / 4 * 4 == RASCONNA_SIZE_V0, "RASCONNA v0");
NEBRIN_RAS_STATIC_ASSERT(sizeof(RASCONNSTATUSA) == RASCONNSTATUSA_SIZE, "RASCONNSTATUSA");
NEBRIN_RAS_STATIC_ASSERT((offsetof(RASCONNSTATUSA, szPhoneNumber) + 3) / 4 * 4 == RASCONNSTATUSA_SIZE_V0,
                         "RASCONNSTATUSA v0");
NEBRIN_RAS_STATIC_ASSERT(sizeof(RASCREDENTIALSA) == RASCREDENTIALSA_SIZE, "RASCREDENTIALSA");
NEBRIN_RAS_STATIC_ASSERT(sizeof(RASENTRYNAMEA) == RASENTRYNAMEA_SIZE, "RASENTRYNAMEA");
NEBRIN_RAS_STATIC_ASSERT(offsetof(RASENTRYNAMEA, dwFlags) == RASENTRYNAMEA_SIZE_V0, "RASENTRYNAMEA v0");
NEBRIN_RAS_STATIC_ASSERT(sizeof(RASENTRYA) == RASENTRYA_SIZE, "RASENTRYA");
NEBRIN_RAS_STATIC_ASSERT(sizeof(RAS_STATS) == RAS_STATS_SIZE, "RAS_STATS");

/* ---- Progress notifiers -------------------------------------------------- */

typedef void (*RASDIALFUNC)(uint32_t unMsg, RASCONNSTATE state, RAS_DWORD dwError);
typedef void (*RASDIALFUNC1)(HRASCONN hrasconn, uint32_t unMsg, RASCONNSTATE state, RAS_DWORD dwError,
                             RAS_DWORD dwExtendedError);
/* Returns non-zero to go on receiving notifications, 0 to stop them. */
typedef RAS_DWORD (*RASDIALFUNC2)(RAS_DWORD dwCallbackId, RAS_DWORD dwSubEntry, HRASCONN hrasconn, uint32_t unMsg,
                                  RASCONNSTATE state, RAS_DWORD dwError, RAS_DWORD dwExtendedError);

/* ---- Functions ----------------------------------------------------------- *
 * Every function returns 0 or an error code unless stated otherwise. A NULL
 * phonebook means the library's default: for writing, the current user's
 * phonebook; for reading and dialling, both phonebooks (the user's first).  */

/* ext must be NULL. notifier NULL: dials synchronously and returns the dial's
 * outcome. Otherwise returns 0 once the dial has started, with *out set (also
 * set, and to be hung up, when a later step fails). */
typedef RAS_DWORD (*PFN_RasDialA)(void* ext, const char* phonebook, RASDIALPARAMSA* params, RAS_DWORD notifierType,
                                  void* notifier, HRASCONN* out);
typedef RAS_DWORD (*PFN_RasHangUpA)(HRASCONN h);
/* RAS_ERROR_INVALID_HANDLE for a handle that does not exist (any more). */
typedef RAS_DWORD (*PFN_RasGetConnectStatusA)(HRASCONN h, RASCONNSTATUSA* status);
/* *cb: in, the buffer's byte size; out, the size needed. The first record's
 * dwSize gives the record form (and stride). 603 when the buffer holds fewer
 * than all records: the records that fit are filled, *count is the total. */
typedef RAS_DWORD (*PFN_RasEnumConnectionsA)(RASCONNA* conns, RAS_DWORD* cb, RAS_DWORD* count);
/* reserved must be NULL. Same size protocol as RasEnumConnectionsA. */
typedef RAS_DWORD (*PFN_RasEnumEntriesA)(const char* reserved, const char* phonebook, RASENTRYNAMEA* entries,
                                         RAS_DWORD* cb, RAS_DWORD* count);
/* buffer gets the NUL-terminated text (cut to size). RAS_ERROR_INVALID_PARAMETER
 * with an empty buffer when the library has no text for the code. */
typedef RAS_DWORD (*PFN_RasGetErrorStringA)(uint32_t code, char* buffer, RAS_DWORD size);
typedef RAS_DWORD (*PFN_RasGetCredentialsA)(const char* phonebook, const char* entry, RASCREDENTIALSA* cred);
typedef RAS_DWORD (*PFN_RasSetCredentialsA)(const char* phonebook, const char* entry, RASCREDENTIALSA* cred,
                                            RAS_BOOL clearCredentials);
/* params->szEntryName names the entry; *passwordSaved tells whether the
 * password came back. */
typedef RAS_DWORD (*PFN_RasGetEntryDialParamsA)(const char* phonebook, RASDIALPARAMSA* params, RAS_BOOL* passwordSaved);
typedef RAS_DWORD (*PFN_RasSetEntryDialParamsA)(const char* phonebook, RASDIALPARAMSA* params, RAS_BOOL removePassword);
/* Creates the entry or overwrites its properties (stored credentials stay). */
typedef RAS_DWORD (*PFN_RasSetEntryPropertiesA)(const char* phonebook, const char* entry, RASENTRYA* props,
                                                RAS_DWORD cbProps, uint8_t* devInfo, RAS_DWORD cbDevInfo);
typedef RAS_DWORD (*PFN_RasGetConnectionStatistics)(HRASCONN h, RAS_STATS* stats);
typedef RAS_DWORD (*PFN_RasClearConnectionStatistics)(HRASCONN h);
typedef RAS_DWORD (*PFN_RasGetLinkStatistics)(HRASCONN h, RAS_DWORD subEntry, RAS_STATS* stats);

/* Our own exports, next to the platform's functions. */

/* Version information of the line library: key "ProductVersion",
 * "FileVersion", "ProductName" or "FileDescription"; NULL for another key.
 * The text lives as long as the library is loaded. */
typedef const char* (*PFN_NebrinRasVersionString)(const char* key);
/* The current user's and the all users' phonebook files (either may be empty
 * when the line has no such phonebook). Texts are cut to their buffer sizes.
 * 0, or RAS_ERROR_INVALID_PARAMETER for a NULL buffer or size 0. */
typedef RAS_DWORD (*PFN_NebrinRasPhoneBooks)(char* user, RAS_DWORD userSize, char* allUsers, RAS_DWORD allSize);
/* The addresses the connection has now, space-separated: IPv4 first, then
 * global IPv6 (which may come some seconds after "connected", by router
 * advertisement); empty while it has none. 0, RAS_ERROR_INVALID_HANDLE for a
 * connection that does not exist (any more), RAS_ERROR_BUFFER_TOO_SMALL when
 * the text does not fit whole (text empty), RAS_ERROR_INVALID_PARAMETER for a
 * NULL buffer or size 0. */
typedef RAS_DWORD (*PFN_NebrinRasAddresses)(HRASCONN h, char* text, RAS_DWORD size);
/* Puts back what sessions that ended without their own clean-up (their
 * program killed) left changed on the machine: the default routes and the
 * name servers. Nothing is done, and nothing asked of the user, when there is
 * nothing of the kind: *restored tells. 0, or the code of the failure with
 * its text in why (cut to whySize); RAS_ERROR_INVALID_PARAMETER for a NULL
 * pointer or whySize 0. */
typedef RAS_DWORD (*PFN_NebrinRasRestoreRoutes)(RAS_BOOL* restored, char* why, RAS_DWORD whySize);

#ifndef NEBRIN_RAS_NO_PROTOTYPES
/* Prototypes, for the libraries that implement them. */
#if defined(__GNUC__)
#define NEBRIN_RAS_EXPORT __attribute__((visibility("default")))
#else
#define NEBRIN_RAS_EXPORT
#endif
NEBRIN_RAS_EXPORT RAS_DWORD RasDialA(void* ext, const char* phonebook, RASDIALPARAMSA* params, RAS_DWORD notifierType,
                                     void* notifier, HRASCONN* out);
NEBRIN_RAS_EXPORT RAS_DWORD RasHangUpA(HRASCONN h);
NEBRIN_RAS_EXPORT RAS_DWORD RasGetConnectStatusA(HRASCONN h, RASCONNSTATUSA* status);
NEBRIN_RAS_EXPORT RAS_DWORD RasEnumConnectionsA(RASCONNA* conns, RAS_DWORD* cb, RAS_DWORD* count);
NEBRIN_RAS_EXPORT RAS_DWORD RasEnumEntriesA(const char* reserved, const char* phonebook, RASENTRYNAMEA* entries,
                                            RAS_DWORD* cb, RAS_DWORD* count);
NEBRIN_RAS_EXPORT RAS_DWORD RasGetErrorStringA(uint32_t code, char* buffer, RAS_DWORD size);
NEBRIN_RAS_EXPORT RAS_DWORD RasGetCredentialsA(const char* phonebook, const char* entry, RASCREDENTIALSA* cred);
NEBRIN_RAS_EXPORT RAS_DWORD RasSetCredentialsA(const char* phonebook, const char* entry, RASCREDENTIALSA* cred,
                                               RAS_BOOL clearCredentials);
NEBRIN_RAS_EXPORT RAS_DWORD RasGetEntryDialParamsA(const char* phonebook, RASDIALPARAMSA* params,
                                                   RAS_BOOL* passwordSaved);
NEBRIN_RAS_EXPORT RAS_DWORD RasSetEntryDialParamsA(const char* phonebook, RASDIALPARAMSA* params,
                                                   RAS_BOOL removePassword);
NEBRIN_RAS_EXPORT RAS_DWORD RasSetEntryPropertiesA(const char* phonebook, const char* entry, RASENTRYA* props,
                                                   RAS_DWORD cbProps, uint8_t* devInfo, RAS_DWORD cbDevInfo);
NEBRIN_RAS_EXPORT RAS_DWORD RasGetConnectionStatistics(HRASCONN h, RAS_STATS* stats);
NEBRIN_RAS_EXPORT RAS_DWORD RasClearConnectionStatistics(HRASCONN h);
NEBRIN_RAS_EXPORT RAS_DWORD RasGetLinkStatistics(HRASCONN h, RAS_DWORD subEntry, RAS_STATS* stats);
NEBRIN_RAS_EXPORT const char* NebrinRasVersionString(const char* key);
NEBRIN_RAS_EXPORT RAS_DWORD NebrinRasPhoneBooks(char* user, RAS_DWORD userSize, char* allUsers, RAS_DWORD allSize);
NEBRIN_RAS_EXPORT RAS_DWORD NebrinRasAddresses(HRASCONN h, char* text, RAS_DWORD size);
NEBRIN_RAS_EXPORT RAS_DWORD NebrinRasRestoreRoutes(RAS_BOOL* restored, char* why, RAS_DWORD whySize);
#endif

#ifdef __cplusplus
}
#endif

#endif /* NEBRIN_PLATFORM_RAS_H */
