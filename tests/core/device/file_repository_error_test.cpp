#include "core/device/file_repository.h"

#include <gtest/gtest.h>

using namespace qb;

// what() must stay valid however the error is copied, for any text.
TEST(FileRepositoryError, WhatSurvivesCopiesAndNonAsciiText)
{
    FileRepositoryError copy = FileRepositoryError::accessDenied("Ünïcode/ç");
    {
        const FileRepositoryError original = FileRepositoryError::transferFailed("€ fail");
        copy = original;
    }
    EXPECT_STREQ(copy.what(), "Transfer failed: € fail");
    EXPECT_EQ(copy.kind(), FileRepositoryError::Kind::TransferFailed);
}
