// The Talvora service's cloud-backup catalogue: upload slots with temporary storage
// credentials, confirmation, the list, download addresses, deletion and the company
// names of tax numbers. Blocking calls for worker threads.
#pragma once

#include <string>
#include <vector>

#include "backup/backup_record.h"
#include "backup/upload_ticket.h"

// Registers the upload of `record`'s archive (fileName, fileSize, fileMD5, fileTime,
// bakTime and the company fields) and fills the ticket; record.fileId gets the
// service's identifier (0 unless the answer gives a positive one). 0 success; -1 no
// answer, a refusal or an unreadable answer; -2 no bucket or key (or one too long: a
// bucket of 2048 bytes, a key of 1024); -3 null credentials; -4 incomplete credentials
// (or one of 2048 bytes or more); -5 no positive "fileId".
int RequestUpload(BackupRecord& record, UploadTicket* ticket);

// Tells the service that the object of record.fileId is stored. 0 only for a reply
// that parses and carries "code" 0; the service's code, or -1 for no reply, one that
// does not parse or one without a code.
int ConfirmUpload(const BackupRecord& record);

// Every call below but the company lookup follows the envelope rule: an answer
// "invalid_token" renews the sign-in (when signed in), shows "连接异常,请重试" and fails
// the call (-1).

// Replaces cloudRecords with the service's list. The number of list elements; -1 for an
// expired sign-in and for an answer without a list (none, not JSON, or an error), which
// leaves cloudRecords as they were; kListTooLarge, leaving them too, when the reply
// passed the reply cap (kMaxReplyBytes): no list was read, which is no empty cloud.
constexpr int kListTooLarge = -3;
int ListBackups();
// True when the last ListBackups read the list: only then may cloudRecords stand for
// what the service holds.
bool CloudListRead();
// Empties cloudRecords as unread: the list of an account no longer signed in.
void ForgetCloudList();

// The download address and MD5 of a backup. 0, or -1 (also for an answer without an
// address).
int GetDownload(long long fileId, std::string* fileUrl, std::string* fileMd5);

// Deletes a backup: the service's "code", or -1 when there is none.
int DeleteBackup(long long fileId);

// The company lookup (no authorisation): the reply text as received.
std::string QueryEnterprises(const std::string& body);

// The reply readers of the calls above, on the body as received (also what the fuzz
// targets drive). Results as for the call; ReadBackupList fills `records` instead of
// cloudRecords.
int ReadUploadTicket(const std::string& reply, BackupRecord& record, UploadTicket* ticket);
int ReadBackupList(const std::string& reply, std::vector<BackupRecord>* records);
int ReadDownload(const std::string& reply, std::string* fileUrl, std::string* fileMd5);
