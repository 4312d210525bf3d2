#include "core/device/file_repository.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace qb;

TEST(FileRepositoryError, MessagesAreTheUserFacingTexts)
{
    using E = FileRepositoryError;
    const std::pair<E, QString> cases[] = {
        {E::accessDenied("1/2"), "Access denied to 1/2."},
        {E::itemNotFound("x/y"), "Item not found: x/y."},
        {E::itemAlreadyExists("1/0"), "An item already exists at 1/0."},
        {E::transferFailed("short read"), "Transfer failed: short read"},
        {E::unknown("EIO"), "An unexpected error occurred: EIO"},
        {E::deviceNotConnected(),
         "Device is not connected. Ensure it is plugged in and File Transfer (MTP) is enabled."},
        {E::renameNotSupported(),
         "Rename is not supported by this device. A copy+delete will be attempted."},
        {E::moveNotSupported(),
         "Move is not supported by this device. A copy+delete will be performed."},
        {E::transferCanceled(), "Transfer was canceled."},
    };
    for (const auto& [error, message] : cases) {
        EXPECT_EQ(error.message(), message);
        EXPECT_STREQ(error.what(), message.toUtf8().constData());
    }
    EXPECT_EQ(E::itemNotFound("x/y").kind(), E::Kind::ItemNotFound);
    EXPECT_EQ(E::itemNotFound("x/y").payload(), "x/y");
}

TEST(FileRepositoryError, WhatSurvivesCopiesAndNonAsciiText)
{
    FileRepositoryError copy = FileRepositoryError::accessDenied("Ünïcode/ç");
    {
        const FileRepositoryError original = FileRepositoryError::transferFailed("€ fail");
        copy = original;
    }
    EXPECT_STREQ(copy.what(), "Transfer failed: € fail");
    try {
        throw FileRepositoryError::deviceNotConnected();
    } catch (const std::exception& e) {
        EXPECT_EQ(std::strncmp(e.what(), "Device is not connected.", 24), 0);
    }
}
