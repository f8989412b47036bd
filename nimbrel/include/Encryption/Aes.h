#pragma once

#include "Encryption/AesBlocks_p.h"
#include "NimbrelExport.h"

#include <memory>
#include <string>

namespace QuilmAes {

NIMBREL_EXPORT extern const unsigned char sbox[256];
NIMBREL_EXPORT extern const unsigned char reverse_sbox[256];

// AES-128 in ECB mode. Results land in the public output buffers; a refused
// call (-1) leaves both as they were.
class NIMBREL_EXPORT Aes
{
public:
    Aes();
    Aes(unsigned char* sboxValues, unsigned char* reverseSboxValues);
    ~Aes();

    // Exactly `length` bytes of ciphertext in encodeOutput.
    int AesEncode(unsigned char* data, int length, unsigned char* key, int keyLength);
    // `length` bytes of plaintext and a zero byte in decodeOutput.
    int AesDecode(unsigned char* data, int length, unsigned char* key, int keyLength);
    // The whole file; its size must be a positive multiple of 16.
    int AesDecode(const std::string& fileName, unsigned char* key, int keyLength);
    // The whole file, always followed by 1 to 16 zero bytes.
    int AesEncode(const std::string& fileName, unsigned char* key, int keyLength);

    int KeyExpansion(unsigned char* key, int keyLength);
    int TranSTRtoArray(unsigned char* buffer, unsigned char state[4][4]);
    int TranArraytoSTR(unsigned char* buffer, unsigned char state[4][4]);
    int AddRoundKey(unsigned char state[4][4], unsigned int* words);
    int TranBytes(unsigned char state[4][4]);
    int InvTranBytes(unsigned char state[4][4]);
    int ShiftRows(unsigned char state[4][4]);
    int InvShiftRows(unsigned char state[4][4]);
    int MixCols(unsigned char state[4][4]);
    int InvMixCols(unsigned char state[4][4]);
    unsigned char Gmul(unsigned char a, unsigned char b);

    std::shared_ptr<unsigned char[]> encodeOutput;
    std::shared_ptr<unsigned char[]> decodeOutput;

private:
    void setTables(const unsigned char* sboxValues, const unsigned char* reverseSboxValues);
    void useKey(unsigned char* key, int keyLength);

    // Words 0-43: the key schedule; 44-87: its round keys in reverse order.
    unsigned int roundKeys[88];
    unsigned char sboxTable[256];
    unsigned char reverseSboxTable[256];
    // The key the schedule was expanded from, and the schedule made ready for
    // the block loops (the processor's AES instructions only when both
    // tables are the standard ones).
    unsigned char expandedKey[16];
    bool keyExpanded = false;
    bool standardTables = true;
    AesRoundKeys preparedKeys;
};

} // namespace QuilmAes
