#pragma once
// The source lines the log names at these sites stay fixed, whatever the code
// around them becomes: readers of the diagnostic log key on "FILE(LINE)".
// Every other site logs the line it stands on (the caller's line, see AAA_Check.h).
namespace AAA::LogLine {

// "AAALib/AAA_FileStream"
inline constexpr int kFileStreamEmptyPath = 19;
inline constexpr int kFileStreamCreateAccess = 31;
inline constexpr int kFileStreamOpenAccess = 43;
inline constexpr int kFileStreamOpenMode = 48;
inline constexpr int kFileStreamWriteFailed = 112;

// "FSAccessLib/FSSpecFAT16": the FAT12/16 boot-sector checks.
inline constexpr int kFat1216SectorSize = 103;
inline constexpr int kFat1216NumberOfFats = 104;
inline constexpr int kFat1216RootEntries = 105;
inline constexpr int kFat1216TotalSectors1 = 111;
inline constexpr int kFat1216TotalSectors2 = 118;
inline constexpr int kFat1216BootSignature = 122;
inline constexpr int kFat1216FileSystemType = 125;
inline constexpr int kFat1216SignatureWord = 126;

// "FSAccessLib/FSSpecExFAT": the exFAT boot-sector checks.
inline constexpr int kExFatFileSystemName = 155;
inline constexpr int kExFatMustBeZero = 156;
inline constexpr int kExFatMajorRevision = 157;
inline constexpr int kExFatReserved = 160;
inline constexpr int kExFatBootSignature = 161;

// "SpecLib/Restore_FilePath"
inline constexpr int kFilePathTooLong = 35;

// "restorelib/Kalvory_Recover"
inline constexpr int kNoReaderOpened = 300;

// "restorelib/Restore_Thread": a cancel seen by the job or its streams.
inline constexpr int kJobCancelled = 49;

} // namespace AAA::LogLine
