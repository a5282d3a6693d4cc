#include "FileList.h"

#include "QtPrinters.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(FileListTest, AllDigits)
{
    const std::pair<const char*, bool> cases[] = {
        {"12", true}, {"003", true}, {"0", true},   {"", false},  {" ", false},
        {"1 ", false}, {" 12", false}, {"1a", false}, {"xyz", false}, {"-1", false},
        {"+1", false}, {"1.0", false},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(AllDigits(QString::fromLatin1(text)), expected) << '"' << text << '"';
    EXPECT_FALSE(AllDigits(QStringLiteral("١٢")));   // digits of another script are not decimal digits here
}

class FileListFolder : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Temp.isValid());
        for (const char* name : {"b.bmp", "A.BMP", "c.Bmp", "d.bmpx", "e.txt", "noext", ".hidden.bmp"})
            Touch(name);
        for (const char* name : {"sub2", "Sub1", ".git", "dir.bmp"})
            ASSERT_TRUE(QDir(Temp.path()).mkdir(QString::fromLatin1(name)));
    }

    void Touch(const char* name)
    {
        QFile f(Temp.filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }

    QStringList List(const char* mask, int32_t attr)
    {
        QStringList list{QStringLiteral("stale")};
        ListFiles(Temp.path(), list, QString::fromLatin1(mask), attr);
        return list;
    }

    QStringList Paths(std::initializer_list<const char*> names)
    {
        QStringList paths;
        for (const char* name : names)
            paths.append(Temp.filePath(QString::fromLatin1(name)));
        return paths;
    }

    QTemporaryDir Temp;
};

TEST_F(FileListFolder, MaskIgnoresCaseAndListsEverythingWithAnyAttribute)
{
    EXPECT_EQ(List("*.bmp", faAnyFile), Paths({".hidden.bmp", "A.BMP", "b.bmp", "c.Bmp", "dir.bmp"}));
    EXPECT_EQ(List("?.BMP", faAnyFile), Paths({"A.BMP", "b.bmp", "c.Bmp"}));
    EXPECT_EQ(List("*.*", faAnyFile).size(), 11);   // "*.*" also matches names without a dot
}

TEST_F(FileListFolder, DirectoryAttributeListsVisibleDirectoriesOnly)
{
    EXPECT_EQ(List("*.*", faDirectory), Paths({"dir.bmp", "Sub1", "sub2"}));
    // A hidden entry is searched once the hidden bit is asked for, and then shares that bit.
    EXPECT_EQ(List("*.*", faDirectory | faHidden), Paths({".git", ".hidden.bmp", "dir.bmp", "Sub1", "sub2"}));
    EXPECT_EQ(List("*.bmp", faArchive), Paths({"A.BMP", "b.bmp", "c.Bmp"}));
}

TEST_F(FileListFolder, MissingFolderGivesEmptyList)
{
    QStringList list{QStringLiteral("stale")};
    ListFiles(Temp.filePath(QStringLiteral("nowhere")), list, QStringLiteral("*.*"), faAnyFile);
    EXPECT_TRUE(list.isEmpty());
}
