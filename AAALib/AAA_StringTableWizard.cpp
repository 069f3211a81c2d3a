#include "AAA_StringTableParts.h"

namespace AAA {
namespace {

constexpr StringEntry kWizardSummaryTexts[] = {
    // The confirmation page: what the search found, and how.
    {3030, "AVCHD videos: {0} ({1})", "AVCHD 動画: {0} 個 ({1})", "AVCHD 视频：{0} 个（{1}）"},
    {3031, "DV clips: {0} ({1})", "DV クリップ: {0} 個 ({1})", "DV 剪辑：{0} 个（{1}）"},
    {3032, "Stills: {0} ({1})", "静止画: {0} 個 ({1})", "静态图像：{0} 个（{1}）"},
    {3033, "Other files: {0} ({1})", "その他のファイル: {0} 個 ({1})", "其他文件：{0} 个（{1}）"},
    {3034, "In directories: {0}", "ディレクトリから: {0} 個", "来自目录：{0} 个"},
    {3035, "As deleted entries: {0}", "削除済みエントリーから: {0} 個", "来自已删除的条目：{0} 个"},
    {3036, "In found folders: {0}", "見つかったフォルダーから: {0} 個", "来自找到的文件夹：{0} 个"},
    {3037, "By the scan: {0}", "セクター検索で: {0} 個", "通过扫描：{0} 个"},
    {3038, "&Pictures (the first {0} are shown):", "静止画(&P) (最初の {0} 枚を表示):", "图像(&P)（显示前 {0} 张）："},
    {3039, "&Videos:", "動画(&V):", "视频(&V)："},
    {3040, "Name", "名前", "名称"},
    {3041, "Size", "サイズ", "大小"},
    {3042, "Duration", "再生時間", "时长"},
    // The finished page: what the save wrote, the folder and the report.
    {3050, "&Open folder", "フォルダーを開く(&O)", "打开文件夹(&O)"},
    {3051, "Show &report", "レポートを表示(&R)", "显示报告(&R)"},
    {3052, "&Summary:", "概要(&S):", "摘要(&S)："},
    {3053, "Recovery report", "復旧レポート", "恢复报告"},
    {3054, "The folder cannot be opened: {0}", "フォルダーを開けません: {0}", "无法打开文件夹：{0}"},
};

} // namespace

const StringEntry* FindWizardSummaryText(int id) {
    for (const StringEntry& entry : kWizardSummaryTexts)
        if (entry.id == id)
            return &entry;
    return nullptr;
}

} // namespace AAA
