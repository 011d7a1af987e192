#include "engine/storage/EncAlgo.h"

#include "crypto/Enc_Blowfish.h"
#include "crypto/Enc_Gost.h"
#include "crypto/Enc_Twofish.h"

namespace lanqi {

TEncAlgo_Base::TEncAlgo_Base(TDataProcessOwner* owner, std::unique_ptr<TEncrypt> cipher)
    : TEncryptAlgo(owner), Cipher(std::move(cipher)) {}

TEncAlgo_Base::~TEncAlgo_Base() = default;

TEncAlgo_Blowfish::TEncAlgo_Blowfish(TDataProcessOwner* owner)
    : TEncAlgo_Base(owner, std::make_unique<TEnc_Blowfish>()) {}

TEncAlgo_Twofish::TEncAlgo_Twofish(TDataProcessOwner* owner)
    : TEncAlgo_Base(owner, std::make_unique<TEnc_Twofish>()) {}

TEncAlgo_Gost::TEncAlgo_Gost(TDataProcessOwner* owner)
    : TEncAlgo_Base(owner, std::make_unique<TEnc_Gost>()) {}

}  // namespace lanqi
