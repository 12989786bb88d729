/* The server-extension interface: what an extension library exports and what the server
 * hands it for one request. Libraries include this header; it is plain C so that a library
 * can be written in C or C++.
 *
 * A library exports two entry points with C linkage:
 *   BOOL  GetExtensionVersion(HSE_VERSION_INFO* version)   asked before every request
 *   DWORD HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb)  answers one request
 * and calls back into the server through the four functions in the control block, always
 * passing the block's ConnID. Sizes are counts of bytes; text is NUL-terminated. */
#ifndef MORLAK_GATEWAYS_EXTENSION_INTERFACE_H
#define MORLAK_GATEWAYS_EXTENSION_INTERFACE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define HSE_CALL __stdcall
#else
#define HSE_CALL
#endif

typedef uint32_t DWORD;
typedef int BOOL;
typedef void* HCONN;
typedef char CHAR;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef unsigned char BYTE;
typedef DWORD* LPDWORD;
typedef void* LPVOID;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define HSE_VERSION_MAJOR 2
#define HSE_VERSION_MINOR 0
#define HSE_MAKE_VERSION(major, minor) ((DWORD)(((major) << 16) | (minor)))

#define HSE_LOG_BUFFER_LEN 80
#define HSE_MAX_EXT_DLL_NAME_LEN 256
#define HSE_MAX_PATH 260

/* Answers of HttpExtensionProc. */
#define HSE_STATUS_SUCCESS 1
#define HSE_STATUS_SUCCESS_AND_KEEP_CONN 2
#define HSE_STATUS_PENDING 3 /* the library signals the end with HSE_REQ_DONE_WITH_SESSION */
#define HSE_STATUS_ERROR 4

/* Support requests (ServerSupportFunction). Buffer, size and data type are the three
 * pointer arguments of the call. */
#define HSE_REQ_SEND_URL_REDIRECT_RESP 1     /* buffer: URL; answer 302 with Location */
#define HSE_REQ_SEND_URL 2                   /* the same as 1 */
#define HSE_REQ_SEND_RESPONSE_HEADER 3       /* data type: header lines, each ending CR LF */
#define HSE_REQ_DONE_WITH_SESSION 4          /* ends a pending request */
#define HSE_REQ_MAP_URL_TO_PATH 1001         /* buffer: URL in, path out; size: buffer size */
#define HSE_APPEND_LOG_PARAMETER 1003        /* buffer: text for the server's log */
#define HSE_REQ_TRANSMIT_FILE 1006           /* buffer: file descriptor; size: bytes to send */
#define HSE_REQ_IS_KEEP_CONN 1008            /* buffer taken as a number: non-zero keeps alive */
#define HSE_REQ_MAP_URL_TO_PATH_EX 1012      /* buffer: URL; data type: HSE_URL_MAPEX_INFO */
#define HSE_REQ_ABORTIVE_CLOSE 1014          /* closes the connection without an answer */
#define HSE_REQ_SEND_RESPONSE_HEADER_EX 1016 /* buffer: HSE_SEND_HEADER_EX_INFO */
/* This server's own request: buffer holds name=value lines that replace the variables of
 * the client's session. */
#define HSE_REQ_SET_SESSION_VARIABLES 1020

typedef struct _HSE_VERSION_INFO {
  DWORD dwExtensionVersion;
  CHAR lpszExtensionDesc[HSE_MAX_EXT_DLL_NAME_LEN];
} HSE_VERSION_INFO;

typedef struct _HSE_URL_MAPEX_INFO {
  CHAR lpszPath[HSE_MAX_PATH];
  DWORD dwFlags;
  DWORD cchMatchingPath;
  DWORD cchMatchingURL;
  DWORD dwReserved1;
  DWORD dwReserved2;
} HSE_URL_MAPEX_INFO;

typedef struct _HSE_SEND_HEADER_EX_INFO {
  LPCSTR pszStatus; /* reason phrase; "404 Not Found" also sets the code */
  LPCSTR pszHeader; /* header lines */
  DWORD cchStatus;
  DWORD cchHeader;
  BOOL fKeepConn;
} HSE_SEND_HEADER_EX_INFO;

typedef struct _EXTENSION_CONTROL_BLOCK {
  DWORD cbSize; /* sizeof(EXTENSION_CONTROL_BLOCK) */
  DWORD dwVersion;
  HCONN ConnID;
  DWORD dwHttpStatusCode;
  CHAR lpszLogData[HSE_LOG_BUFFER_LEN];
  LPSTR lpszMethod;
  LPSTR lpszQueryString;
  LPSTR lpszPathInfo;
  LPSTR lpszPathTranslated;
  DWORD cbTotalBytes;
  DWORD cbAvailable;
  BYTE* lpbData;
  LPSTR lpszContentType;

  /* A buffer too small for a value answers FALSE with errno ERANGE and the size needed. */
  BOOL(HSE_CALL* GetServerVariable)
  (HCONN hConn, LPSTR lpszVariableName, LPVOID lpvBuffer, LPDWORD lpdwSize);
  BOOL(HSE_CALL* WriteClient)(HCONN ConnID, LPVOID Buffer, LPDWORD lpdwBytes, DWORD dwReserved);
  BOOL(HSE_CALL* ReadClient)(HCONN ConnID, LPVOID lpvBuffer, LPDWORD lpdwSize);
  BOOL(HSE_CALL* ServerSupportFunction)
  (HCONN hConn, DWORD dwHSERequest, LPVOID lpvBuffer, LPDWORD lpdwSize, LPDWORD lpdwDataType);
} EXTENSION_CONTROL_BLOCK;

typedef BOOL(HSE_CALL* PFN_GETEXTENSIONVERSION)(HSE_VERSION_INFO* pVer);
typedef DWORD(HSE_CALL* PFN_HTTPEXTENSIONPROC)(EXTENSION_CONTROL_BLOCK* pECB);

#ifdef __cplusplus
}
#endif

#endif /* MORLAK_GATEWAYS_EXTENSION_INTERFACE_H */
