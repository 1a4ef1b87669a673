// The rows of the backup and restore windows' lists.
#pragma once

class DataRowList {};
