// The backup windows' worker threads.
#pragma once

class FrameJobs {};
