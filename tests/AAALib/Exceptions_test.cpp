#include "AAA_Exceptions.h"

#include <cerrno>
#include <string>

#include <gtest/gtest.h>

#include "AAA_WideString.h"
#include "LogCapture.h"

namespace {

using AAATest::EnglishLocale;
using AAATest::LogCapture;

std::string Text(const AAA::ExceptionBase& e) { return AAA::ToUtf8(e.Message()); }

// Runs ThrowFromErrno(number) and reports the class and message it raised.
template <class Expected>
std::string MessageThrownFor(int number) {
    try {
        AAA::ThrowFromErrno(number);
    } catch (const Expected& e) {
        return Text(e);
    } catch (const AAA::ExceptionBase& e) {
        return "wrong class: " + Text(e);
    }
    return "nothing thrown";
}

TEST(Exceptions, EachClassCarriesItsOwnMessage) {
    EnglishLocale english;
    EXPECT_EQ(Text(AAA::ArgumentException()),
              "The internal error occurred.\n\nThe specified recovery object cannot be recovered.");
    EXPECT_EQ(Text(AAA::CancellationException()), "It was canceled.");
    EXPECT_EQ(Text(AAA::FileNotFoundException()),
              "A file necessary for the recovery is not found.\n\nThe specified recovery object cannot be recovered.");
    EXPECT_EQ(Text(AAA::InsufficientMemoryException()), "There is no empty memory necessary for the recovery.");
    EXPECT_EQ(Text(AAA::IOException()), "The error occurred while reading or writing the file.");
    EXPECT_EQ(Text(AAA::IOException(111)), "There is no empty area enough for the memory card or the disk.");
    EXPECT_EQ(Text(AAA::PathTooLongException()),
              "The path name or the file name exceeds the maximum length of the system definition.");
    EXPECT_EQ(Text(AAA::UnknownFileSystemException()),
              "Sorry.\n\nIt is not possible to recover this card. Only SD or SDHC or SDXC cards are capable.");
    EXPECT_EQ(Text(AAA::UnexpectedEofException()), "The terminal of the file not expected was detected.");
    EXPECT_EQ(Text(AAA::InvalidDataException()),
              "Invalid data to the specified recovery object is included.\n\nThe specified recovery object cannot be "
              "recovered.");
    EXPECT_EQ(Text(AAA::MakerModelException()),
              "Sorry.\n\nIt is not possible to recover it because of the data recorded with the product not "
              "supported.");
}

TEST(Exceptions, MessageIsNulTerminatedCopyOfTheText) {
    EnglishLocale english;
    const AAA::CancellationException e;
    EXPECT_EQ(std::u16string(e.Message()), e.MessageText());
    EXPECT_EQ(e.Message()[e.MessageText().size()], u'\0');
}

TEST(Exceptions, UnknownMessageIdGivesEmptyText) {
    EXPECT_TRUE(AAA::ExceptionBase(99).MessageText().empty());
    EXPECT_TRUE(AAA::ExceptionBase(99999).MessageText().empty());
    EXPECT_TRUE(AAA::IOException(-1).MessageText().empty());
}

TEST(Exceptions, CancellationCaughtAsBaseKeepsItsMessage) {
    EnglishLocale english;
    try {
        throw AAA::CancellationException();
    } catch (const AAA::ExceptionBase& e) {
        EXPECT_EQ(Text(e), "It was canceled.");
        return;
    }
    FAIL() << "not caught as ExceptionBase";
}

template <class E>
bool CaughtAsVerify() {
    try {
        throw E();
    } catch (const AAA::VerifyExceptionBase&) {
        return true;
    } catch (const AAA::ExceptionBase&) {
        return false;
    }
}

TEST(Exceptions, VerificationFailuresShareOneBase) {
    EXPECT_TRUE(CaughtAsVerify<AAA::InvalidDataException>());
    EXPECT_TRUE(CaughtAsVerify<AAA::UnexpectedEofException>());
    EXPECT_TRUE(CaughtAsVerify<AAA::MakerModelException>());
    EXPECT_FALSE(CaughtAsVerify<AAA::UnknownFileSystemException>());
    EXPECT_FALSE(CaughtAsVerify<AAA::IOException>());
    EXPECT_FALSE(CaughtAsVerify<AAA::CancellationException>());
}

TEST(ThrowFromErrno, MapsErrorNumbersToClassesAndMessages) {
    EnglishLocale english;
    EXPECT_EQ(MessageThrownFor<AAA::FileNotFoundException>(ENOENT), Text(AAA::FileNotFoundException()));
    EXPECT_EQ(MessageThrownFor<AAA::InsufficientMemoryException>(ENOMEM), Text(AAA::InsufficientMemoryException()));
    EXPECT_EQ(MessageThrownFor<AAA::ArgumentException>(EINVAL), Text(AAA::ArgumentException()));
    EXPECT_EQ(MessageThrownFor<AAA::IOException>(ENOSPC), Text(AAA::IOException(111)));
    // Anything else, permission denied included, is a plain read/write error.
    EXPECT_EQ(MessageThrownFor<AAA::IOException>(EACCES), Text(AAA::IOException(106)));
    EXPECT_EQ(MessageThrownFor<AAA::IOException>(EEXIST), Text(AAA::IOException(106)));
    EXPECT_EQ(MessageThrownFor<AAA::IOException>(0), Text(AAA::IOException(106)));
}

TEST(ThrowFromErrno, WithoutArgumentUsesCurrentErrno) {
    errno = ENOENT;
    EXPECT_THROW(AAA::ThrowFromErrno(), AAA::FileNotFoundException);
    errno = ENOSPC;
    EXPECT_THROW(AAA::ThrowFromErrno(), AAA::IOException);
}

TEST(ThrowFromErrno, WritesNoThrowSiteLine) {
    LogCapture log(8);
    EXPECT_THROW(AAA::ThrowFromErrno(EACCES), AAA::IOException);
    EXPECT_EQ(log.Text(), "");
}

TEST(ThrowLogged, WritesTheThrowSiteLineAtLevel3) {
    LogCapture log(4);
    EXPECT_THROW(AAA::ThrowLogged<AAA::ArgumentException>("AAALib/AAA_Thing", 77, "ArgumentException()"),
                 AAA::ArgumentException);
    EXPECT_EQ(log.Text(), "AAALib/AAA_Thing(77): ArgumentException()\n");
}

TEST(ThrowLogged, ThrowsTheGivenInstanceSilentlyWhenLogIsOff) {
    EnglishLocale english;
    LogCapture log(3); // level 3 is not below 3
    try {
        AAA::ThrowLogged("x", 1, "IOException()", AAA::IOException(111));
        FAIL() << "nothing thrown";
    } catch (const AAA::IOException& e) {
        EXPECT_EQ(Text(e), "There is no empty area enough for the memory card or the disk.");
    }
    EXPECT_EQ(log.Text(), "");
}

TEST(UnexpectedErrorText, IsMessage100InOneReusedBuffer) {
    EnglishLocale english;
    const char16_t* first = AAA::UnexpectedErrorText();
    EXPECT_EQ(AAA::ToUtf8(first),
              "The error not expected occurred.\n\nThe specified recovery object cannot be recovered.");
    EXPECT_EQ(AAA::UnexpectedErrorText(), first);
}

} // namespace
