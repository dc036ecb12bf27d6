#include "InternetFile.h"

#include "FtpDataChannel.h"

CInternetFile::CInternetFile(std::unique_ptr<FtpDataChannel> channel)
    : m_channel(std::move(channel)) {}

CInternetFile::~CInternetFile() = default;

unsigned CInternetFile::Read(void* buffer, unsigned count) {
    return m_channel->Read(buffer, count);
}

void CInternetFile::Write(const void* buffer, unsigned count) {
    m_channel->Write(buffer, count);
}

void CInternetFile::Close() {
    m_channel->Close();
}

std::uint64_t CInternetFile::BytesTransferred() const {
    return m_channel->Transferred();
}
