# Sourced by every script that starts a Windows program. Decides once whether this machine starts 32-bit programs
# and which Wine loader runs ours; exports the answer, so that ctest, its fixtures and child scripts inherit it.
#   TUNIVOX_RUNS_32BIT   1 when Wine's 32-bit loader starts here, 0 when the kernel starts no 32-bit program
#                        (Debian's `wine` script then fails even for 64-bit programs, since it prefers that loader).
#   TUNIVOX_ARCHS        the Windows builds whose tests run here: i686,x86_64 where 32-bit programs start, x86_64
#                        elsewhere. Set it beforehand (i686, x86_64 or both) to choose; i686 needs 32-bit programs.
#   TUNIVOX_WINE_LOADER  wow64: Debian's `wine`, which runs 32- and 64-bit programs;
#                        wine64: Wine's 64-bit loader only, through the shims in scripts/wine64 put first on PATH
#                        (they also serve Debian's winepath, wineboot and regedit wrappers, which exec wine-stable).
# tunivox_wine_line NAME prints the one line that says so.
tunivox_scripts=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

if [ -z "${TUNIVOX_RUNS_32BIT:-}" ]; then
    if /usr/lib/wine/wine --version >/dev/null 2>&1; then
        TUNIVOX_RUNS_32BIT=1
    else
        TUNIVOX_RUNS_32BIT=0
    fi
fi
if [ -z "${TUNIVOX_ARCHS:-}" ]; then
    if [ "$TUNIVOX_RUNS_32BIT" = 1 ]; then TUNIVOX_ARCHS=i686,x86_64; else TUNIVOX_ARCHS=x86_64; fi
fi
case ",$TUNIVOX_ARCHS," in
*,i686,*)
    if [ "$TUNIVOX_RUNS_32BIT" != 1 ]; then
        echo "this machine starts no 32-bit program: TUNIVOX_ARCHS=$TUNIVOX_ARCHS cannot run the i686 build" >&2
        exit 1
    fi
    TUNIVOX_WINE_LOADER=wow64
    ;;
*) TUNIVOX_WINE_LOADER=wine64 ;;
esac
if [ "$TUNIVOX_WINE_LOADER" = wine64 ]; then
    case ":$PATH:" in
    *":$tunivox_scripts/wine64:"*) ;;
    *) PATH=$tunivox_scripts/wine64:$PATH ;;
    esac
fi
export TUNIVOX_RUNS_32BIT TUNIVOX_ARCHS TUNIVOX_WINE_LOADER PATH

# tunivox_runs ARCH: true when the tests of that build run here.
tunivox_runs() { case ",$TUNIVOX_ARCHS," in *,"$1",*) return 0 ;; *) return 1 ;; esac; }

tunivox_wine_line() {
    local what
    if [ "$TUNIVOX_RUNS_32BIT" = 1 ]; then what="this machine runs 32-bit programs"; else
        what="this machine starts no 32-bit program"; fi
    if [ "$TUNIVOX_WINE_LOADER" = wine64 ]; then
        echo "$1: $what: Windows programs run through Wine's 64-bit loader (/usr/lib/wine/wine64), builds tested: $TUNIVOX_ARCHS"
    else
        echo "$1: $what: Windows programs run through Wine's usual loader, builds tested: $TUNIVOX_ARCHS"
    fi
}
