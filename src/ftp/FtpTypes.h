#pragma once

// Constants of the FTP client interface, with the values of the platform they
// stand in for.
enum : unsigned {
    GENERIC_READ = 0x80000000u,
    GENERIC_WRITE = 0x40000000u,
    // With GENERIC_WRITE, for a name that is new and ours alone (a copy's
    // temporary name): the data goes with APPE, which creates it. A STOR
    // truncates, and vsftpd on ext4 then has the whole file written out before
    // it reads the next command; an upload that renames its file afterwards
    // would wait for that.
    GENERIC_WRITE_NEW = 0x20000000u,
    FTP_TRANSFER_TYPE_BINARY = 0x2u,
    INTERNET_FLAG_RELOAD = 0x80000000u,
    FILE_ATTRIBUTE_DIRECTORY = 0x10u,
    PRE_CONFIG_INTERNET_ACCESS = 0u,
};

enum : unsigned short { INTERNET_INVALID_PORT_NUMBER = 0 };
