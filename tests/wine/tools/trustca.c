/* trustca: adds the certificate of a PEM file to the prefix's root store,
 * as an administrator would install a community's own certificate
 * authority, so that the programs validate the local web host's
 * certificate like any other.  trustca.exe C:\path\ca.pem */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <wincrypt.h>
#include <stdio.h>

int wmain(int argc, wchar_t **argv)
{
    static char pem[65536];
    static BYTE der[65536];
    DWORD pemBytes = 0, derBytes = sizeof der;
    HANDLE file;
    HCERTSTORE root;
    BOOL added;

    if (argc != 2) {
        fprintf(stderr, "usage: trustca.exe FILE.pem\n");
        return 2;
    }
    file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "cannot open the certificate file (%lu)\n", GetLastError());
        return 1;
    }
    if (!ReadFile(file, pem, sizeof pem - 1, &pemBytes, NULL)) pemBytes = 0;
    CloseHandle(file);
    if (!CryptStringToBinaryA(pem, pemBytes, CRYPT_STRING_BASE64HEADER, der, &derBytes, NULL, NULL)) {
        fprintf(stderr, "not a PEM certificate (%lu)\n", GetLastError());
        return 1;
    }
    root = CertOpenSystemStoreA(0, "ROOT");
    if (!root) {
        fprintf(stderr, "cannot open the ROOT store (%lu)\n", GetLastError());
        return 1;
    }
    added = CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, der, derBytes,
                                             CERT_STORE_ADD_REPLACE_EXISTING, NULL);
    if (!added) fprintf(stderr, "cannot add the certificate (%lu)\n", GetLastError());
    CertCloseStore(root, 0);
    return added ? 0 : 1;
}
