#include "AAA_StringTable.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "AAA_StringTableParts.h"

namespace AAA {
namespace {

using Entry = StringEntry;

constexpr size_t kMaxMessageUnits = 255;

#define NOT_RECOVERABLE_EN "\n\nThe specified recovery object cannot be recovered."
#define NOT_RECOVERABLE_JA "\n\n指定された復旧対象は復旧できません。"
#define NOT_RECOVERABLE_ZH "\n\n无法恢复指定的恢复对象。"

constexpr Entry kTable[] = {
    {100, "The error not expected occurred." NOT_RECOVERABLE_EN,
          "予期しないエラーが発生しました。" NOT_RECOVERABLE_JA,
          "发生了意外错误。" NOT_RECOVERABLE_ZH},
    {101, "The internal error occurred." NOT_RECOVERABLE_EN,
          "内部エラーが発生しました。" NOT_RECOVERABLE_JA,
          "发生了内部错误。" NOT_RECOVERABLE_ZH},
    {102, "It was canceled.", "キャンセルされました。", "已取消。"},
    {103, "A folder necessary for the recovery is not found" NOT_RECOVERABLE_EN,
          "復旧に必要なフォルダーが見つかりません。" NOT_RECOVERABLE_JA,
          "找不到恢复所需的文件夹。" NOT_RECOVERABLE_ZH},
    {104, "A file necessary for the recovery is not found." NOT_RECOVERABLE_EN,
          "復旧に必要なファイルが見つかりません。" NOT_RECOVERABLE_JA,
          "找不到恢复所需的文件。" NOT_RECOVERABLE_ZH},
    {105, "There is no empty memory necessary for the recovery.",
          "復旧に必要な空きメモリーがありません。",
          "没有恢复所需的可用内存。"},
    {106, "The error occurred while reading or writing the file.",
          "ファイルの読み込みまたは書き込み中にエラーが発生しました。",
          "读取或写入文件时发生错误。"},
    {107, "The path name or the file name exceeds the maximum length of the system definition.",
          "パス名またはファイル名がシステムで定義された最大長を超えています。",
          "路径名或文件名超过了系统定义的最大长度。"},
    {108, "The memory card or the disk is read-only.",
          "メモリーカードまたはディスクは読み取り専用です。",
          "存储卡或磁盘为只读。"},
    {109, "Invalid data to the specified recovery object is included." NOT_RECOVERABLE_EN,
          "指定された復旧対象に無効なデータが含まれています。" NOT_RECOVERABLE_JA,
          "指定的恢复对象中包含无效数据。" NOT_RECOVERABLE_ZH},
    {110, "The terminal of the file not expected was detected.",
          "予期しないファイルの終端が検出されました。",
          "检测到意外的文件结尾。"},
    {111, "There is no empty area enough for the memory card or the disk.",
          "メモリーカードまたはディスクに十分な空き容量がありません。",
          "存储卡或磁盘没有足够的可用空间。"},
    {112, "The stream is broken.", "ストリームが壊れています。", "数据流已损坏。"},
    {113, "Sorry.\n\nIt is not possible to recover it because of the data recorded with the product not supported.",
          "申し訳ありません。\n\nサポートされていない製品で記録されたデータのため、復旧できません。",
          "抱歉。\n\n由于数据是用不受支持的产品录制的，无法恢复。"},
    {114, "Sorry.\n\nIt is not possible to recover this card. Only SD or SDHC or SDXC cards are capable.",
          "申し訳ありません。\n\nこのカードは復旧できません。対応しているのは SD、SDHC、SDXC カードのみです。",
          "抱歉。\n\n无法恢复此存储卡。仅支持 SD、SDHC 或 SDXC 卡。"},
    {115, "The card can no longer be read: it was removed or its reader was disconnected. The files finished before are kept.",
          "カードを読み取れなくなりました。カードが取り外されたか、カードリーダーの接続が切れました。それまでに完了したファイルは残っています。",
          "无法再读取存储卡：存储卡已被取出或读卡器已断开。之前完成的文件已保留。"},
    {116, "Nothing was saved: the destination folder cannot hold files larger than {0} bytes, and {1} files are larger: {2}",
          "何も保存しませんでした。保存先のフォルダーには {0} バイトを超えるファイルを保存できませんが、{1} 個のファイルがそれより大きいです: {2}",
          "未保存任何文件：目标文件夹无法保存大于 {0} 字节的文件，而有 {1} 个文件更大：{2}"},
    // Front-end texts.
    // Wizard texts.
    {1000, "Kalvory V1.1", "Kalvory V1.1", "Kalvory V1.1"},
    {1001, "E&xit", "終了(&X)", "退出(&X)"},
    {1003, "\nStart recovering files from \n\nthe SD/SDHC/SDXC memory card \n\n",
           "\nSD/SDHC/SDXC メモリーカードから\n\nファイルの復旧を開始します\n\n",
           "\n开始从 SD/SDHC/SDXC 存储卡\n\n恢复文件\n\n"},
    {1005, "It cancels. Is it good?", "キャンセルします。よろしいですか?", "将要取消。确定吗？"},
    {1006, "It is canceling...\n\nPlease wait for a while.",
           "キャンセルしています...\n\nしばらくお待ちください。",
           "正在取消...\n\n请稍候。"},
    {1010, "Select the drive.", "ドライブを選択してください。", "请选择驱动器。"},
    {1011, "\nPlease select the drive in which \nthe SD/SDHC/SDXC memory card to be recovered has been inserted.",
           "\n復旧する SD/SDHC/SDXC メモリーカードが\n挿入されているドライブを選択してください。",
           "\n请选择插有要恢复的\nSD/SDHC/SDXC 存储卡的驱动器。"},
    {1020, "Select the folder to save files.", "ファイルを保存するフォルダーを選択してください。", "请选择保存文件的文件夹。"},
    {1021, "\nPlease select the folder that recovered files will be saved.\n\n\n\n",
           "\n復旧したファイルを保存するフォルダーを選択してください。\n\n\n\n",
           "\n请选择用于保存恢复文件的文件夹。\n\n\n\n"},
    {1022, "&Open", "開く(&O)", "打开(&O)"},
    {1023, "The folder to save into is not empty.\n\nIt is not possible to save files if the file which name is same as the recoverd file is exists.",
           "保存先のフォルダーは空ではありません。\n\n復旧するファイルと同じ名前のファイルがあると保存できません。",
           "要保存到的文件夹不是空的。\n\n如果存在与恢复文件同名的文件，则无法保存文件。"},
    {1030, "The recovery object is being confirmed...", "復旧対象を確認しています...", "正在确认恢复对象..."},
    {1031, "\nWhether it is possible to recover it is being confirmed.\n\nPlease wait for a while.",
           "\n復旧できるかどうかを確認しています。\n\nしばらくお待ちください。",
           "\n正在确认是否可以恢复。\n\n请稍候。"},
    {1032, "Remaining", "残り", "剩余"},
    {1033, "min", "分", "分钟"},
    {1034, "sec", "秒", "秒"},
    {1040, "The confirmation to be recovered was completed.", "復旧対象の確認が完了しました。", "恢复对象的确认已完成。"},
    {1041, "\nThe files were found.\n\nThese files can be recovered.\n\nPlease click [Next] when continuing the recovery.",
           "\nファイルが見つかりました。\n\nこれらのファイルは復旧できます。\n\n復旧を続ける場合は [次へ] をクリックしてください。",
           "\n找到了文件。\n\n这些文件可以恢复。\n\n要继续恢复，请单击 [下一步]。"},
    {1050, "The recovered files is being saved...", "復旧したファイルを保存しています...", "正在保存恢复的文件..."},
    {1051, "\n\nPlease wait for a while.", "\n\nしばらくお待ちください。", "\n\n请稍候。"},
    {1052, "Remaining", "残り", "剩余"},
    {1053, "min", "分", "分钟"},
    {1054, "sec", "秒", "秒"},
    {1060, "The recovery was completed.", "復旧が完了しました。", "恢复已完成。"},
    {1061, "It normally recovered it.\n\nPlease click [Finish] to close the wizard.",
           "正常に復旧しました。\n\n[完了] をクリックしてウィザードを閉じてください。",
           "已正常恢复。\n\n请单击 [完成] 关闭向导。"},
    {1070, "The confirmation to be recovered was completed.", "復旧対象の確認が完了しました。", "恢复对象的确认已完成。"},
    {1071, "The files were not found.\n\nIt has no files to recover.\n\nPlease click [Finish] to close the wizard.",
           "ファイルが見つかりませんでした。\n\n復旧するファイルはありません。\n\n[完了] をクリックしてウィザードを閉じてください。",
           "未找到文件。\n\n没有要恢复的文件。\n\n请单击 [完成] 关闭向导。"},
    {1080, "The change of the recovery object was detected.\n\nPlease execute from the start again.",
           "復旧対象の変更が検出されました。\n\n最初からやり直してください。",
           "检测到恢复对象发生了变化。\n\n请从头重新执行。"},
    {1081, "The folder to save into must be different from the recovery object.",
           "保存先のフォルダーは復旧対象とは別の場所にしてください。",
           "要保存到的文件夹必须与恢复对象不同。"},
    // Command-line texts; {0}, {1}, {2} are filled in by the caller.
    {2000, "Recovered {0} files ({1}) into {2}",
           "{0} 個のファイル ({1}) を {2} に復旧しました",
           "已将 {0} 个文件 ({1}) 恢复到 {2}"},
    {2001, "No recoverable files were found on {0}.",
           "{0} に復旧できるファイルは見つかりませんでした。",
           "在 {0} 上未找到可恢复的文件。"},
    {2002, "Cancelled. The {0} files ({1}) finished before the cancel are kept in {2}; the file being written was removed.",
           "キャンセルしました。キャンセル前に完了した {0} 個のファイル ({1}) は {2} に残っています。書き込み中のファイルは削除しました。",
           "已取消。取消前完成的 {0} 个文件 ({1}) 保留在 {2} 中；正在写入的文件已删除。"},
    {2003, "Verifying", "確認中", "正在确认"},
    {2004, "Saving", "保存中", "正在保存"},
    {2005, "The destination folder cannot be created: {0}",
           "保存先のフォルダーを作成できません: {0}",
           "无法创建目标文件夹：{0}"},
    {2006, "Cancelled.", "キャンセルしました。", "已取消。"},
    {2007, "{0} recoverable files ({1}) found on {2}.",
           "{2} に復旧できるファイルが {0} 個 ({1}) 見つかりました。",
           "在 {2} 上找到 {0} 个可恢复的文件 ({1})。"},
    {2008, "{0} files were saved under a numbered name, such as \"NAME (2).JPG\", because another recovered file had the same name.",
           "ほかの復旧ファイルと名前が同じだったため、{0} 個のファイルを \"NAME (2).JPG\" のような番号付きの名前で保存しました。",
           "由于与另一个恢复的文件同名，{0} 个文件以编号名称（如 \"NAME (2).JPG\"）保存。"},
    {2009, "{0} pictures found by the sector scan were not recovered: every DCF folder name under DCIM is taken.",
           "セクター検索で見つかった {0} 枚の写真は復旧されませんでした。DCIM の DCF フォルダー名がすべて使用済みです。",
           "扇区扫描找到的 {0} 张照片未恢复：DCIM 下的所有 DCF 文件夹名称均已占用。"},
    {2010, "Of these, {0} came from folders found after a format and {1} from the sector scan alone.",
           "このうち {0} 個はフォーマット後に見つかったフォルダーから、{1} 個はセクター検索だけで見つかったものです。",
           "其中 {0} 个来自格式化后找到的文件夹，{1} 个仅由扇区扫描找到。"},
    {2011, "{0} files are partial: only the part their own data vouches for was written.",
           "{0} 個のファイルは一部のみです。データ自体で確認できた部分だけを書き込みました。",
           "{0} 个文件不完整：只写入了其自身数据能够确认的部分。"},
    {2012, "{0} files have parts the card could not read; they were saved with zeros in those places:",
           "{0} 個のファイルにはカードから読み取れない部分があり、その部分をゼロで埋めて保存しました:",
           "{0} 个文件包含存储卡无法读取的部分，这些部分以零填充后保存："},
    {2013, "{0} files cross the end of the image and were not saved (--partial saves what the image holds of them):",
           "{0} 個のファイルはイメージの終端を越えているため保存しませんでした (--partial を指定すると、イメージにある部分を保存します):",
           "{0} 个文件超出了映像的末尾，未保存（使用 --partial 可保存映像中包含的部分）："},
    {2014, "{0} files cross the end of the image and were saved only up to it:",
           "{0} 個のファイルはイメージの終端を越えているため、終端までの部分だけを保存しました:",
           "{0} 个文件超出了映像的末尾，仅保存到末尾为止的部分："},
    {2015, "{0} files could not be saved:",
           "{0} 個のファイルを保存できませんでした:",
           "{0} 个文件无法保存："},
    {2016, "{0} files ({1}) were not saved because the save stopped:",
           "保存が中断されたため、{0} 個のファイル ({1}) は保存されていません:",
           "由于保存中止，{0} 个文件 ({1}) 未保存："},
    {2017, "{0} files were saved higher up in the folder tree: their folders on the card are nested too deep for this system.",
           "{0} 個のファイルは、カード上のフォルダーの階層が深すぎるため、より上の階層のフォルダーに保存しました。",
           "{0} 个文件保存在了更上层的文件夹中：它们在存储卡上的文件夹层级对本系统来说太深。"},
    {2018, "{0} of the card could not be read; zeros stand in for it.",
           "カードの {0} を読み取れませんでした。その部分はゼロとして扱いました。",
           "存储卡中有 {0} 无法读取，已用零代替。"},
    {2019, "Saved {0} files ({1}) into {2} before the save stopped.",
           "保存が中断されるまでに {0} 個のファイル ({1}) を {2} に保存しました。",
           "保存中止前已将 {0} 个文件 ({1}) 保存到 {2}。"},
    {2020, " and {0} more", " ほか {0} 個", " 以及另外 {0} 个"},
    // What failed and why, beside the message of a failure.
    {2021, "{0} is a folder, not a card or an image",
           "{0} はフォルダーです。カードやイメージではありません",
           "{0} 是文件夹，不是存储卡或镜像"},
    {2022, "{0} is empty", "{0} は空です", "{0} 是空的"},
    {2023, "{0}: permission denied: run as root or join the disk group",
           "{0}: アクセスが拒否されました。root として実行するか、disk グループに参加してください",
           "{0}：权限被拒绝：请以 root 身份运行或加入 disk 组"},
    {2024, "{0} holds no FAT12, FAT16, FAT32 or exFAT volume",
           "{0} には FAT12、FAT16、FAT32、exFAT のボリュームがありません",
           "{0} 中没有 FAT12、FAT16、FAT32 或 exFAT 卷"},
    {2025, "{0}: the card's file system does not read as it should",
           "{0}: カードのファイルシステムを正しく読み取れません",
           "{0}：无法正常读取存储卡的文件系统"},
    {2026, "{0}: {1} free, the card holds {2}",
           "{0}: 空き {1}、カードの容量 {2}",
           "{0}：可用空间 {1}，存储卡容量 {2}"},
    {2027, "Checking", "確認中", "正在校验"},
    {2028, "The recovery report is {0}", "復旧レポート: {0}", "恢复报告：{0}"},
    {2029, "The recovery report cannot be written: {0}",
           "復旧レポートを書き込めません: {0}",
           "无法写入恢复报告：{0}"},
    {2030, "{0} folders lie past the end of the card or its image; what they hold could not be read.",
           "{0} 個のフォルダーがカードまたはイメージの終わりより後ろにあるため、その中身を読み取れませんでした。",
           "有 {0} 个文件夹位于存储卡或映像的末尾之后，无法读取其中的内容。"},
    // Whole cards: their partitions and which volume was read.
    {2040, "Partition table: {0}", "パーティションテーブル: {0}", "分区表：{0}"},
    {2041, "The card's partition {0} was read (its volume starts {1} bytes into the card).",
           "カードのパーティション {0} を読み取りました (ボリュームはカードの先頭から {1} バイトの位置にあります)。",
           "已读取存储卡的分区 {0}（其卷位于存储卡起始处之后 {1} 字节）。"},
    {2042, "No partition table names the volume: it was found by its boot sector, {0} bytes into the card.",
           "パーティションテーブルにボリュームがないため、ブートセクターから見つけました (カードの先頭から {0} バイト)。",
           "分区表中没有该卷：已通过其引导扇区找到它，位于存储卡起始处之后 {0} 字节。"},
    {2043, "No FAT12, FAT16, FAT32 or exFAT volume was found on {0}: the whole card was scanned as 512-byte sectors.",
           "{0} に FAT12、FAT16、FAT32、exFAT のボリュームが見つからないため、カード全体を 512 バイトのセクターとして走査しました。",
           "在 {0} 上未找到 FAT12、FAT16、FAT32 或 exFAT 卷：已将整张存储卡按 512 字节扇区扫描。"},
    {2044, "The card's {0} outside its volume were scanned too: {1} files were found there.",
           "ボリュームの外にあるカードの {0} も走査し、そこで {1} 個のファイルが見つかりました。",
           "还扫描了存储卡上卷之外的 {0}：在其中找到 {1} 个文件。"},
    // Imaging a failing card, and recovering from the image with its map.
    {2100, "Imaging", "イメージ作成中", "正在制作镜像"},
    {2101, "{0}/s, {1} bad", "{0}/秒、不良 {1}", "{0}/秒，坏 {1}"},
    {2102, "{0}: {1} of {2} read; the map is {3}",
           "{0}: {2} のうち {1} を読み取りました。マップ: {3}",
           "{0}：已读取 {1}（共 {2}）；映射文件：{3}"},
    {2103, "{0} could not be read: zeros stand in for them in the image, and the map marks them bad.",
           "{0} を読み取れませんでした。イメージではゼロで埋められ、マップに不良として記録されています。",
           "有 {0} 无法读取：镜像中以零代替，映射文件将其标记为坏。"},
    {2104, "Interrupted. The map {0} is current: the same command goes on from there.",
           "中断しました。マップ {0} は最新です。同じコマンドでそこから続行します。",
           "已中断。映射文件 {0} 是最新的：再次运行同一命令即可继续。"},
    {2105, "The card went away ({0}). The map {1} is current: the same command goes on once it is back.",
           "カードが取り外されました ({0})。マップ {1} は最新です。カードを戻して同じコマンドで続行します。",
           "存储卡已移除（{0}）。映射文件 {1} 是最新的：插回后再次运行同一命令即可继续。"},
    {2106, "{0} exists: give its map with --map to go on with it (an existing file is never overwritten)",
           "{0} は既に存在します。続行するには --map でそのマップを指定してください (既存のファイルは上書きしません)",
           "{0} 已存在：如要继续，请用 --map 指定其映射文件（不会覆盖已有文件）"},
    {2107, "{0} exists but the image {1} does not: a map belongs to its image",
           "{0} は存在しますが、イメージ {1} がありません。マップはそのイメージのものです",
           "{0} 已存在，但镜像 {1} 不存在：映射文件属于其镜像"},
    {2108, "the map {0} covers {1} bytes, but {2} holds {3} bytes",
           "マップ {0} は {1} バイト分ですが、{2} は {3} バイトです",
           "映射文件 {0} 覆盖 {1} 字节，但 {2} 有 {3} 字节"},
    {2109, "{0} and {1} are the same file", "{0} と {1} は同じファイルです", "{0} 和 {1} 是同一个文件"},
    {2110, "Imaging stopped: {0}", "イメージ作成を中止しました: {0}", "镜像制作已停止：{0}"},
    {2031, "{0} deleted files were not saved: other files' data now stands where theirs was (listed as overwritten; --keep-overwritten saves them too).",
           "{0} 個の削除済みファイルは保存しませんでした。そのデータの場所には現在ほかのファイルのデータがあります (overwritten として一覧に記載。--keep-overwritten を指定すると保存します)。",
           "{0} 个已删除的文件未保存：其数据所在位置现在是其他文件的数据（列为 overwritten；使用 --keep-overwritten 也会保存它们）。"},
    {2032, "{0} deleted files were saved although other files' data now stands where theirs was; the report flags them as overwritten.",
           "{0} 個の削除済みファイルは、データの場所にほかのファイルのデータがありますが保存しました。レポートでは overwritten と記載しています。",
           "{0} 个已删除的文件虽然其数据位置现在是其他文件的数据，但仍已保存；报告中将其标记为 overwritten。"},
    // Desktop wizard texts of its own: the image-file source, the read-access
    // hint and the buttons the platform's wizard would have named.
    {3000, "Image file…", "イメージファイル…", "镜像文件…"},
    {3001, "Open a card image", "カードのイメージを開く", "打开存储卡镜像"},
    {3002, "Card images (*.img *.bin *.dd *.raw *.E01 *.e01);;All files (*)",
           "カードのイメージ (*.img *.bin *.dd *.raw *.E01 *.e01);;すべてのファイル (*)",
           "存储卡镜像 (*.img *.bin *.dd *.raw *.E01 *.e01);;所有文件 (*)"},
    {3003, "No read access to {0}: add your user to the group \"disk\" (sudo adduser $USER disk) and log in again.",
           "{0} を読み取る権限がありません。ユーザーを \"disk\" グループに追加して (sudo adduser $USER disk) ログインし直してください。",
           "没有读取 {0} 的权限：请将用户加入 \"disk\" 组 (sudo adduser $USER disk) 后重新登录。"},
    {3010, "&Next >", "次へ(&N) >", "下一步(&N) >"},
    {3011, "Cancel", "キャンセル", "取消"},
    {3012, "&Finish", "完了(&F)", "完成(&F)"},
    {3013, "&Yes", "はい(&Y)", "是(&Y)"},
    {3014, "&No", "いいえ(&N)", "否(&N)"},
    {3015, "OK", "OK", "确定"},
    // What the front ends read besides files and devices (E01 images), and
    // how the drive list tells a whole card from its partitions.
    {3020, "{0} is missing: an E01 image is read with all of its segments, side by side in one folder",
           "{0} が見つかりません。E01 イメージはすべてのセグメントを同じフォルダーに置いて読み込みます",
           "缺少 {0}：E01 镜像需要所有分段文件位于同一文件夹中才能读取"},
    {3021, "{0}: the E01 image is damaged or incomplete: {1} is cut short or {2} is missing",
           "{0}: E01 イメージが壊れているか不完全です。{1} が途中で切れているか、{2} がありません",
           "{0}：E01 镜像已损坏或不完整：{1} 被截断，或缺少 {2}"},
    {3022, "{0} cannot be read as an E01 image: {1}",
           "{0} を E01 イメージとして読み込めません: {1}",
           "无法将 {0} 作为 E01 镜像读取：{1}"},
    {3023, "(whole card)", "(カード全体)", "（整张存储卡）"},
    {3024, "(partition {0})", "(パーティション {0})", "（分区 {0}）"},
};

const Entry* Find(int id) {
    for (const Entry& entry : kTable)
        if (entry.id == id)
            return &entry;
    return FindWizardSummaryText(id);
}

bool StartsWith(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

} // namespace

Language LanguageFromLocale(const char* name) {
    if (!name)
        return Language::English;
    if (StartsWith(name, "ja"))
        return Language::Japanese;
    if (StartsWith(name, "zh_CN") || StartsWith(name, "zh_SG") || StartsWith(name, "zh_Hans"))
        return Language::SimplifiedChinese;
    return Language::English;
}

Language ProcessLanguage() {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value && *value)
            return LanguageFromLocale(value);
    }
    return Language::English;
}

WString LoadString(int id, Language language) {
    const Entry* entry = Find(id);
    if (!entry)
        return {};
    const char* text = entry->english;
    if (language == Language::Japanese)
        text = entry->japanese;
    else if (language == Language::SimplifiedChinese)
        text = entry->chinese;
    WString wide = FromUtf8(text);
    if (wide.size() > kMaxMessageUnits)
        wide.resize(kMaxMessageUnits);
    return wide;
}

WString LoadString(int id) { return LoadString(id, ProcessLanguage()); }

std::string LoadStringUtf8(int id) { return ToUtf8(LoadString(id)); }

std::string FillPlaceholders(std::string text, std::initializer_list<std::string> values) {
    size_t index = 0;
    for (const std::string& value : values) {
        char mark[24];
        std::snprintf(mark, sizeof mark, "{%zu}", index++);
        const size_t markLength = std::strlen(mark);
        for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + value.size()))
            text.replace(at, markLength, value);
    }
    return text;
}

} // namespace AAA
